#include "hostmail/delivery/CommandRunner.h"

#include "hostmail/store/AtomicFile.h"

#include <QElapsedTimer>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace hostmail {

namespace {

constexpr qsizetype kErrorTailBytes = 2048;

struct Fd {
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// The last few lines of what the command wrote to standard error.
QByteArray lastLines(const QByteArray &text)
{
    QList<QByteArray> lines = text.trimmed().split('\n');
    if (lines.size() > 5)
        lines = lines.mid(lines.size() - 5);
    return lines.join('\n');
}

} // namespace

QString CommandResult::describe() const
{
    if (!started)
        return QStringLiteral("could not be started: %1").arg(startError);
    if (timedOut)
        return QStringLiteral("did not finish in time and was stopped");
    if (signal != 0)
        return QStringLiteral("was ended by signal %1").arg(signal);
    if (exitCode != 0)
        return QStringLiteral("exit status %1").arg(exitCode);
    if (!readAll)
        return QStringLiteral("exit status 0 without reading the whole message");
    return QStringLiteral("exit status 0");
}

CommandResult runWithInput(const QStringList &argv, const QByteArray &input, int timeoutSeconds)
{
    CommandResult result;
    if (argv.isEmpty()) {
        result.startError = QStringLiteral("no delivery command is set");
        return result;
    }
    Fd message{::memfd_create("cheerpost-message", MFD_CLOEXEC)};
    int errorPipe[2];
    if (message.fd < 0 || writeAll(message.fd, input) != 0 || ::lseek(message.fd, 0, SEEK_SET) != 0 ||
        ::pipe2(errorPipe, O_CLOEXEC) != 0) {
        result.startError = QString::fromLocal8Bit(std::strerror(errno));
        return result;
    }
    Fd errorRead{errorPipe[0]}, errorWrite{errorPipe[1]};

    std::vector<QByteArray> args;
    for (const QString &a : argv)
        args.push_back(a.toLocal8Bit());
    std::vector<char *> argp;
    for (QByteArray &a : args)
        argp.push_back(a.data());
    argp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, message.fd, STDIN_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, errorWrite.fd, STDERR_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0); // its own group, so a timeout ends its children too
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, argp.front(), &actions, &attributes, argp.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(errorWrite.fd);
    errorWrite.fd = -1;
    if (spawned != 0) {
        result.startError = QString::fromLocal8Bit(std::strerror(spawned));
        return result;
    }
    result.started = true;

    QByteArray errors;
    QElapsedTimer clock;
    clock.start();
    const qint64 limit = qint64(timeoutSeconds) * 1000;
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (clock.elapsed() >= limit) {
            ::kill(-pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            result.timedOut = true;
            break;
        }
        pollfd p{errorRead.fd, POLLIN, 0};
        if (::poll(&p, 1, 50) > 0) {
            char buffer[4096];
            const ssize_t n = ::read(errorRead.fd, buffer, sizeof buffer);
            if (n > 0) {
                errors.append(buffer, n);
                if (errors.size() > 4 * kErrorTailBytes)
                    errors = errors.right(kErrorTailBytes);
            } else if (n == 0) {
                // standard error closed; wait for the exit without spinning
                pollfd none{-1, 0, 0};
                ::poll(&none, 0, 20);
            }
        }
    }
    // What is left in the pipe, without waiting for a child that kept it open.
    ::fcntl(errorRead.fd, F_SETFL, O_NONBLOCK);
    char buffer[4096];
    ssize_t n = 0;
    for (int reads = 0; reads < 64 && (n = ::read(errorRead.fd, buffer, sizeof buffer)) > 0; ++reads)
        errors.append(buffer, n);
    result.errorTail = lastLines(errors.right(kErrorTailBytes));
    if (!result.timedOut) {
        if (WIFEXITED(status))
            result.exitCode = WEXITSTATUS(status);
        else if (WIFSIGNALED(status))
            result.signal = WTERMSIG(status);
    }
    const off_t consumed = ::lseek(message.fd, 0, SEEK_CUR);
    result.readAll = consumed >= 0 && consumed >= input.size();
    return result;
}

} // namespace hostmail
