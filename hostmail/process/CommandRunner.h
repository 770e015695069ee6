#pragma once

#include <QByteArray>
#include <QStringList>

#include <atomic>

namespace hostmail {

// What became of one run of a command.
struct CommandResult {
    bool started = false;
    bool timedOut = false;
    bool cancelled = false;
    int exitCode = -1;    // when it exited
    int signal = 0;       // when a signal ended it
    bool readAll = false; // it read its whole input
    QByteArray output;    // standard output, up to the limit asked for
    QByteArray errorTail; // the last lines it wrote to standard error
    QString startError;

    bool succeeded() const { return started && !timedOut && !cancelled && signal == 0 && exitCode == 0 && readAll; }
    QString describe() const; // "exit status 75", "did not finish in time and was stopped", ...
};

struct CommandOptions {
    int timeoutSeconds = 60;
    qsizetype outputLimit = 0;                   // bytes of standard output kept; 0: output goes to /dev/null
    const std::atomic_bool *cancelled = nullptr; // stops the command within 50 ms of being set
};

// Runs argv (the program found on PATH) in a process group of its own with
// input on standard input, read from an in-memory file so that what the
// command consumed can be checked afterwards. Past the timeout, or once
// cancelled, the whole group is killed. Nothing goes through a shell.
CommandResult runCommand(const QStringList &argv, const QByteArray &input, const CommandOptions &options);

inline CommandResult runWithInput(const QStringList &argv, const QByteArray &input, int timeoutSeconds)
{
    return runCommand(argv, input, {timeoutSeconds, 0, nullptr});
}

// Starts argv in a session of its own and does not wait for it (a browser, the
// delivery agent); it is reaped when it ends. False, with *error saying why,
// when it could not be started.
bool startDetached(const QStringList &argv, QString *error = nullptr);

} // namespace hostmail
