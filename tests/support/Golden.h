#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// Exact output pinned by golden files in tests/data. A mismatch prints a
// unified diff of the golden file against what was produced; with
// CHEERPOST_UPDATE_GOLDEN=1 in the environment the golden file is rewritten.
inline ::testing::AssertionResult matchesGolden(const QByteArray &actual, const char *name)
{
    const QString path = QStringLiteral(TEST_DATA_DIR "/") + QLatin1String(name);
    if (qEnvironmentVariableIntValue("CHEERPOST_UPDATE_GOLDEN") == 1) {
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(actual) != actual.size())
            return ::testing::AssertionFailure() << "cannot write " << path.toStdString();
        return ::testing::AssertionSuccess();
    }
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return ::testing::AssertionFailure() << "no golden file " << path.toStdString();
    const QByteArray expected = in.readAll();
    if (expected == actual)
        return ::testing::AssertionSuccess();
    QTemporaryDir dir;
    QFile produced(dir.filePath(QStringLiteral("produced")));
    produced.open(QIODevice::WriteOnly);
    produced.write(actual);
    produced.close();
    QProcess diff;
    diff.start(QStringLiteral("diff"), {QStringLiteral("-u"), QStringLiteral("--text"), path, produced.fileName()});
    diff.waitForFinished();
    return ::testing::AssertionFailure() << name << " differs (- golden, + produced):\n"
                                         << diff.readAllStandardOutput().toStdString();
}

// A message as its golden file holds it: the date, the message id and the
// MIME boundaries, which change with every message, become fixed markers.
inline QByteArray stableMessage(QByteArray message)
{
    QString text = QString::fromUtf8(message);
    text.replace(QRegularExpression(QStringLiteral("(?m)^Date: .*$")), QStringLiteral("Date: <date>"));
    text.replace(QRegularExpression(QStringLiteral("(?mi)^Message-Id: .*$")), QStringLiteral("Message-Id: <id>"));
    const QRegularExpression boundary(QStringLiteral("boundary=\"([^\"]+)\""));
    int n = 0;
    for (auto it = boundary.globalMatch(QString(text)); it.hasNext();)
        text.replace(it.next().captured(1), QStringLiteral("BOUNDARY-%1").arg(++n));
    // Content-IDs carry a random key of fixed length; quoted-printable may
    // break a reference to one across lines ("=" and a line end anywhere).
    const QRegularExpression key(QStringLiteral("(?mi)^Content-Id: <[^.>]*\\.([0-9a-f]{32})@"));
    for (auto it = key.globalMatch(QString(text)); it.hasNext();) {
        QString pattern;
        for (const QChar c : it.next().captured(1))
            pattern += QRegularExpression::escape(QString(c)) + QStringLiteral("(=\n)?");
        text.replace(QRegularExpression(pattern), QString(32, QLatin1Char('x')));
    }
    return text.toUtf8();
}

// An iCalendar text as its golden file holds it: the time stamp and a random
// UID become fixed markers.
inline QByteArray stableCalendar(const QByteArray &ics, const QByteArray &randomUid = {})
{
    QString text = QString::fromUtf8(ics);
    text.replace(QRegularExpression(QStringLiteral("DTSTAMP:[0-9TZ]+")), QStringLiteral("DTSTAMP:<now>"));
    if (!randomUid.isEmpty())
        text.replace(QString::fromUtf8(randomUid), QStringLiteral("<uid>"));
    return text.toUtf8();
}
