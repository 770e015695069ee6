#pragma once

#include <QDeadlineTimer>
#include <QFile>
#include <QTest>

#include <gtest/gtest.h>

// Waits for a condition while the event loop runs. Unlike QTRY_*, which only
// log and return from the test function under GoogleTest, a condition that
// does not come true within the time fails the test.
template <typename Condition>::testing::AssertionResult eventually(Condition condition, int timeoutMs = 5000)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return ::testing::AssertionFailure() << "not so within " << timeoutMs << " ms";
        QTest::qWait(20);
    }
    return ::testing::AssertionSuccess();
}

// True once a file that a test's stand-in program writes holds a whole line.
// The shell creates the file before it writes, so its existence alone is no sign.
inline bool holdsAWholeLine(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.readAll().endsWith('\n');
}
