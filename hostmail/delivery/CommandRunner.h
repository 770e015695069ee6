#pragma once

#include <QByteArray>
#include <QStringList>

namespace hostmail {

// What became of one run of the delivery command.
struct CommandResult {
    bool started = false;
    bool timedOut = false;
    int exitCode = -1;    // when it exited
    int signal = 0;       // when a signal ended it
    bool readAll = false; // it read its whole input
    QByteArray errorTail; // the last lines it wrote to standard error
    QString startError;

    bool succeeded() const { return started && !timedOut && signal == 0 && exitCode == 0 && readAll; }
    QString describe() const; // "exit status 75", "killed after 60 s", ...
};

// Runs argv (the program found on PATH) in a process group of its own with
// input on standard input, read from an in-memory file so that what the
// command consumed can be checked afterwards. Past timeoutSeconds the whole
// group is killed.
CommandResult runWithInput(const QStringList &argv, const QByteArray &input, int timeoutSeconds);

} // namespace hostmail
