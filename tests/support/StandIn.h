#pragma once

#include <QDir>
#include <QProcess>
#include <QStringList>

// A server of the tests' own (tests/support/*.py) on 127.0.0.1: started
// with its arguments, its first line of output read (its port, or "ready"),
// stopped by closing its standard input when the test ends.
class StandIn {
public:
    StandIn(const QString &script, const QStringList &arguments)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("/usr/bin/python3"),
                        QStringList{QStringLiteral(SOURCE_DIR "/tests/support/") + script} + arguments);
        if (m_process.waitForStarted(10000))
            while (!m_process.canReadLine() && m_process.waitForReadyRead(20000)) {
            }
        m_line = QString::fromUtf8(m_process.readLine()).trimmed();
    }
    ~StandIn()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
        m_process.waitForFinished();
    }
    StandIn(const StandIn &) = delete;
    StandIn &operator=(const StandIn &) = delete;
    // What it printed first; empty when it did not start.
    QString line() const { return m_line; }
    int port() const { return m_line.toInt(); }

private:
    QProcess m_process;
    QString m_line;
};

// A certificate for 127.0.0.1 made with openssl in folder: cert.pem, key.pem.
inline bool makeCertificate(const QString &folder)
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"), {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                                              folder + "/key.pem", "-out", folder + "/cert.pem", "-days", "2", "-subj",
                                              "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"});
    return openssl.waitForFinished(60000) && openssl.exitCode() == 0;
}
