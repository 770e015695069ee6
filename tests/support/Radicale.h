#pragma once

#include <QElapsedTimer>
#include <QHostAddress>
#include <QProcess>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

// Radicale on 127.0.0.1 at a free port, keeping its collections in folder,
// with the given authentication arguments, over TLS when a certificate and
// key are given; stopped when the test ends.
class Radicale {
public:
    Radicale(const QString &folder, const QStringList &auth, const QString &certificate = {}, const QString &key = {})
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        m_port = probe.serverPort();
        probe.close();
        QStringList arguments{"-m",
                              "radicale",
                              "--config",
                              "",
                              QStringLiteral("--server-hosts=127.0.0.1:%1").arg(m_port),
                              "--storage-filesystem-folder=" + folder,
                              "--rights-type=owner_only",
                              "--logging-level=error"};
        arguments += auth;
        if (!certificate.isEmpty())
            arguments += {"--server-ssl", "--server-certificate=" + certificate, "--server-key=" + key};
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.start(QStringLiteral("/usr/bin/python3"), arguments);
        QElapsedTimer waited;
        waited.start();
        while (!m_ready && waited.elapsed() < 20000) {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, m_port);
            m_ready = s.waitForConnected(100);
            if (!m_ready)
                QThread::msleep(50);
        }
    }
    ~Radicale()
    {
        m_process.terminate();
        m_process.waitForFinished(10000);
    }
    Radicale(const Radicale &) = delete;
    Radicale &operator=(const Radicale &) = delete;

    quint16 port() const { return m_port; }
    // Whether it took connections within 20 seconds.
    bool ready() const { return m_ready; }

    // Logins from an htpasswd file of plain "user:password" lines.
    static QStringList htpasswd(const QString &file)
    {
        return {"--auth-type=htpasswd", "--auth-htpasswd-filename=" + file, "--auth-htpasswd-encryption=plain"};
    }

private:
    QProcess m_process;
    quint16 m_port = 0;
    bool m_ready = false;
};
