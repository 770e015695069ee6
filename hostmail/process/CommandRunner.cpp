#include "hostmail/process/CommandRunner.h"

#include "hostmail/store/AtomicFile.h"

#include <QElapsedTimer>

#include <thread>
#include <vector>

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
constexpr qsizetype kWholeBurst = 64 * 4096; // all one drain reads

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

// Starts argv (found on PATH) with the file actions given, which it then
// destroys, every signal unblocked, SIGPIPE at its default, and flags (a
// process group or a session of its own). 0, or the error number.
int spawn(const QStringList &argv, posix_spawn_file_actions_t *actions, short flags, pid_t *pid)
{
    std::vector<QByteArray> args;
    for (const QString &a : argv)
        args.push_back(a.toLocal8Bit());
    std::vector<char *> argp;
    for (QByteArray &a : args)
        argp.push_back(a.data());
    argp.push_back(nullptr);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0); // with POSIX_SPAWN_SETPGROUP: a group of its own
    posix_spawnattr_setflags(&attributes, short(flags | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));
    const int spawned = ::posix_spawnp(pid, argp.front(), actions, &attributes, argp.data(), environ);
    posix_spawn_file_actions_destroy(actions);
    posix_spawnattr_destroy(&attributes);
    return spawned;
}

// Reads what is there without blocking; false once the pipe is closed.
bool drain(int fd, QByteArray &into, qsizetype keep)
{
    char buffer[4096];
    for (int reads = 0; reads < 64; ++reads) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            return false;
        if (n < 0)
            return errno == EAGAIN || errno == EINTR;
        if (into.size() < keep)
            into.append(buffer, qMin<qsizetype>(n, keep - into.size()));
    }
    return true;
}

} // namespace

QString CommandResult::describe() const
{
    if (!started)
        return QStringLiteral("could not be started: %1").arg(startError);
    if (timedOut)
        return QStringLiteral("did not finish in time and was stopped");
    if (cancelled)
        return QStringLiteral("was stopped on request");
    if (signal != 0)
        return QStringLiteral("was ended by signal %1").arg(signal);
    if (exitCode != 0)
        return QStringLiteral("exit status %1").arg(exitCode);
    if (!readAll)
        return QStringLiteral("exit status 0 without reading the whole message");
    return QStringLiteral("exit status 0");
}

CommandResult runCommand(const QStringList &argv, const QByteArray &input, const CommandOptions &options)
{
    CommandResult result;
    if (argv.isEmpty() || argv.front().isEmpty()) {
        result.startError = QStringLiteral("no command is set");
        return result;
    }
    Fd message{::memfd_create("cheerpost-input", MFD_CLOEXEC)};
    int errorPipe[2], outputPipe[2] = {-1, -1};
    if (message.fd < 0 || writeAll(message.fd, input) != 0 || ::lseek(message.fd, 0, SEEK_SET) != 0 ||
        ::pipe2(errorPipe, O_CLOEXEC | O_NONBLOCK) != 0 ||
        (options.outputLimit > 0 && ::pipe2(outputPipe, O_CLOEXEC | O_NONBLOCK) != 0)) {
        result.startError = QString::fromLocal8Bit(std::strerror(errno));
        return result;
    }
    Fd errorRead{errorPipe[0]}, errorWrite{errorPipe[1]}, outputRead{outputPipe[0]}, outputWrite{outputPipe[1]};
    // The child's ends block as usual.
    ::fcntl(errorWrite.fd, F_SETFL, 0);
    if (outputWrite.fd >= 0)
        ::fcntl(outputWrite.fd, F_SETFL, 0);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, message.fd, STDIN_FILENO);
    if (outputWrite.fd >= 0)
        posix_spawn_file_actions_adddup2(&actions, outputWrite.fd, STDOUT_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, errorWrite.fd, STDERR_FILENO);
    pid_t pid = 0;
    // A group of its own, so that a timeout ends its children too.
    const int spawned = spawn(argv, &actions, POSIX_SPAWN_SETPGROUP, &pid);
    ::close(errorWrite.fd);
    errorWrite.fd = -1;
    if (outputWrite.fd >= 0) {
        ::close(outputWrite.fd);
        outputWrite.fd = -1;
    }
    if (spawned != 0) {
        result.startError = QString::fromLocal8Bit(std::strerror(spawned));
        return result;
    }
    result.started = true;

    QByteArray errors;
    QElapsedTimer clock;
    clock.start();
    const qint64 limit = qint64(options.timeoutSeconds) * 1000;
    int status = 0;
    bool errorOpen = true, outputOpen = outputRead.fd >= 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        const bool cancelled = options.cancelled && options.cancelled->load();
        if (cancelled || clock.elapsed() >= limit) {
            ::kill(-pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            (cancelled ? result.cancelled : result.timedOut) = true;
            break;
        }
        pollfd p[2] = {{errorOpen ? errorRead.fd : -1, POLLIN, 0}, {outputOpen ? outputRead.fd : -1, POLLIN, 0}};
        // With both pipes closed, this only waits for the exit without spinning.
        if (::poll(p, 2, errorOpen || outputOpen ? 50 : 20) > 0) {
            if (errorOpen && p[0].revents)
                errorOpen = drain(errorRead.fd, errors, kWholeBurst);
            if (outputOpen && p[1].revents)
                outputOpen = drain(outputRead.fd, result.output, options.outputLimit);
            if (errors.size() >= 4 * kErrorTailBytes)
                errors = errors.right(kErrorTailBytes);
        }
    }
    // What is left in the pipes, without waiting for a child that kept them open.
    drain(errorRead.fd, errors, kWholeBurst);
    if (outputRead.fd >= 0)
        drain(outputRead.fd, result.output, options.outputLimit);
    result.errorTail = lastLines(errors.right(kErrorTailBytes));
    if (!result.timedOut && !result.cancelled) {
        if (WIFEXITED(status))
            result.exitCode = WEXITSTATUS(status);
        else if (WIFSIGNALED(status))
            result.signal = WTERMSIG(status);
    }
    const off_t consumed = ::lseek(message.fd, 0, SEEK_CUR);
    result.readAll = consumed >= 0 && consumed >= input.size();
    return result;
}

bool startDetached(const QStringList &argv, QString *error)
{
    if (argv.isEmpty() || argv.front().isEmpty()) {
        if (error)
            *error = QStringLiteral("no command is set");
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    pid_t pid = 0;
    // A session of its own: closing this program's terminal does not end it.
    const int spawned = spawn(argv, &actions, POSIX_SPAWN_SETSID, &pid);
    if (spawned != 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(spawned));
        return false;
    }
    // Reaped when it ends, so that no zombie stays while this program runs.
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

} // namespace hostmail
