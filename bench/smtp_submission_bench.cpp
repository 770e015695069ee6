// Sends N greetings through a local SMTP server (tests/support/
// smtp_server.py, aiosmtpd, plain text with AUTH on 127.0.0.1) twice: with
// the built-in submission, one connection for all, and with msmtp started
// once a message, as a delivery command would be. Each greeting is what the
// program composes: HTML with two inline pictures, about 50 KB on the wire,
// CRLF throughout. Prints both times and the ratio.
//   smtp_submission_bench [N]   (default 1000)
#include "hostmail/mime/MimeMessage.h"
#include "hostmail/smtp/SmtpSession.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>

namespace {

// Two pictures of about 18 KB each, as incompressible as a JPEG.
QList<hostmail::AttachmentData> pictures(const QTemporaryDir &dir)
{
    QList<hostmail::AttachmentData> out;
    for (const char *name : {"cake.jpg", "balloons.jpg"}) {
        QByteArray bytes(18 * 1024, Qt::Uninitialized);
        QRandomGenerator generator(42);
        generator.fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
        hostmail::AttachmentData a;
        a.fileName = QString::fromLatin1(name);
        a.sourcePath = dir.filePath(a.fileName);
        a.mimeType = QStringLiteral("image/jpeg");
        a.content = bytes;
        out.append(a);
    }
    return out;
}

QByteArray greeting(int i, const QList<hostmail::AttachmentData> &images)
{
    hostmail::MessageFields f;
    f.from = QStringLiteral("Anna Berg <anna@example.org>");
    f.to = QStringLiteral("p%1@example.org").arg(i);
    f.subject = QStringLiteral("Happy Birthday !");
    QString body =
        QStringLiteral("<html><body>Dear Person %1,<p><img src=\"file://%2\"></p>").arg(i).arg(images.at(0).sourcePath);
    for (int line = 0; line < 12; ++line)
        body +=
            QStringLiteral("<p>Wishing you a wonderful day, line %1 of a long and heartfelt greeting.</p>").arg(line);
    body += QStringLiteral("<p><img src=\"file://%1\"></p></body></html>").arg(images.at(1).sourcePath);
    f.body = body;
    f.attachments = images;
    return hostmail::mime::forTransport(hostmail::mime::compose(f));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int n = argc > 1 ? QByteArray(argv[1]).toInt() : 1000;
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
    const QList<hostmail::AttachmentData> images = pictures(dir);
    QList<QByteArray> messages;
    for (int i = 0; i < n; ++i)
        messages.append(greeting(i, images));

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
            const auto r = session.send(account.user, {QStringLiteral("p%1@example.org").arg(i)}, messages.at(i));
            if (r.outcome != hostmail::smtp::SmtpResult::Outcome::Sent) {
                std::fprintf(stderr, "built-in: %s\n", qPrintable(r.text));
                return 1;
            }
        }
    }
    const double builtIn = double(clock.nsecsElapsed()) / 1e9;
    std::printf("%d greetings of %lld bytes (two inline pictures) through a local SMTP server (aiosmtpd, plain "
                "text with AUTH on 127.0.0.1)\n",
                n, qlonglong(messages.first().size()));
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
        msmtp.write(messages.at(i));
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
