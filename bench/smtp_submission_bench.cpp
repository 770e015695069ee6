// Sends N bulk messages through a local SMTP server (tests/support/
// smtp_server.py, plain text with AUTH on 127.0.0.1) twice: with the built-in
// submission, one connection for all, and with msmtp started once a message,
// as a delivery command would be. Prints both times and the ratio.
//   smtp_submission_bench [N]   (default 10000)
#include "hostmail/smtp/SmtpSession.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

namespace {

QByteArray bulkMessage(int i)
{
    QByteArray body;
    for (int line = 0; line < 30; ++line)
        body += "<p>News of the month, line " + QByteArray::number(line) + " for everyone on the list.</p>\r\n";
    return "From: anna@example.org\r\nTo: p" + QByteArray::number(i) +
           "@example.org\r\nSubject: News\r\nMIME-Version: 1.0\r\nContent-Type: text/html; charset=utf-8\r\n\r\n"
           "<html><body>\r\n" +
           body + "</body></html>\r\n";
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int n = argc > 1 ? QByteArray(argv[1]).toInt() : 10000;
    QTemporaryDir dir;
    QProcess server;
    server.setStandardErrorFile(QProcess::nullDevice()); // its warnings would fill a pipe no one reads
    server.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral(CHEERPOST_SOURCE_DIR "/tests/support/smtp_server.py"),
                  dir.filePath(QStringLiteral("received")), QStringLiteral("plain"),
                  QStringLiteral("--serve-seconds=7200")});
    if (!server.waitForReadyRead(20000)) {
        std::fprintf(stderr, "the SMTP server did not start\n");
        return 1;
    }
    const int port = server.readLine().trimmed().toInt();

    hostmail::SmtpSettings account;
    account.host = QStringLiteral("127.0.0.1");
    account.port = port;
    account.security = hostmail::SmtpSettings::Security::None;
    account.user = QStringLiteral("anna@example.org");
    QElapsedTimer clock;
    clock.start();
    {
        hostmail::smtp::SmtpSession session(account, QStringLiteral("secret"), 30);
        for (int i = 0; i < n; ++i) {
            const auto r = session.send(account.user, {QStringLiteral("p%1@example.org").arg(i)}, bulkMessage(i));
            if (r.outcome != hostmail::smtp::SmtpResult::Outcome::Sent) {
                std::fprintf(stderr, "built-in: %s\n", qPrintable(r.text));
                return 1;
            }
        }
    }
    const double builtIn = double(clock.nsecsElapsed()) / 1e9;
    std::printf("%d messages through a local SMTP server (aiosmtpd, plain text with AUTH on 127.0.0.1)\n", n);
    std::printf("built-in submission, one connection: %8.2f s  %7.2f ms/message\n", builtIn, builtIn * 1000 / n);
    std::fflush(stdout);

    const QString conf = dir.filePath(QStringLiteral("msmtprc"));
    QFile f(conf);
    f.open(QIODevice::WriteOnly);
    f.write(QStringLiteral("account bench\nhost 127.0.0.1\nport %1\nauth plain\nuser anna@example.org\n"
                           "password secret\ntls off\nfrom anna@example.org\naccount default : bench\n")
                .arg(port)
                .toUtf8());
    f.close();
    QFile::setPermissions(conf, QFile::ReadOwner | QFile::WriteOwner);
    clock.restart();
    int failed = 0; // msmtp's own failures (a reply lost under the load), counted, not fatal
    for (int i = 0; i < n; ++i) {
        QProcess msmtp;
        msmtp.start(QStringLiteral("msmtp"), {QStringLiteral("-C"), conf, QStringLiteral("-t")});
        msmtp.write(bulkMessage(i));
        msmtp.closeWriteChannel();
        if (!msmtp.waitForFinished(120000) || msmtp.exitStatus() != QProcess::NormalExit || msmtp.exitCode() != 0) {
            std::fprintf(stderr, "msmtp, message %d: exit status %d: %s\n", i, msmtp.exitCode(),
                         msmtp.readAllStandardError().constData());
            ++failed;
        }
    }
    const double perProcess = double(clock.nsecsElapsed()) / 1e9;
    server.closeWriteChannel();
    server.waitForFinished(30000);
    std::printf("msmtp, one process a message:        %8.2f s  %7.2f ms/message (%d failed)\n", perProcess,
                perProcess * 1000 / n, failed);
    std::printf("ratio: %.1f times faster\n", perProcess / builtIn);
    return 0;
}
