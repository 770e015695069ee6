// A stand-in for the desktop's notification service on a private session
// bus: records the summary and body of every Notify call, one line each, in
// the file named by its argument, and quits after 60 seconds. With a second
// argument "locked" it also stands in for a desktop keyring whose default
// collection is locked.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QTimer>
#include <QVariantMap>

#include <cstdio>

class Notifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    explicit Notifications(QString file) : m_file(std::move(file)) {}

public Q_SLOTS:
    uint Notify(const QString &app, uint, const QString &, const QString &summary, const QString &body,
                const QStringList &, const QVariantMap &, int)
    {
        QFile out(m_file);
        if (out.open(QIODevice::Append)) {
            QString text = app + QLatin1Char('|') + summary + QLatin1Char('|') + body;
            out.write(text.replace(QLatin1Char('\n'), QLatin1String("\\n")).toUtf8() + '\n');
        }
        return ++m_id;
    }
    QStringList GetCapabilities() { return {QStringLiteral("body")}; }

private:
    QString m_file;
    uint m_id = 0;
};

class LockedCollection : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Secret.Collection")
    Q_PROPERTY(bool Locked READ locked)

public:
    bool locked() const { return true; }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    Notifications service(QString::fromLocal8Bit(argv[1]));
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                            QDBusConnection::ExportAllSlots) ||
        !bus.registerService(QStringLiteral("org.freedesktop.Notifications")))
        return 1;
    LockedCollection keyring;
    if (argc > 2 && qstrcmp(argv[2], "locked") == 0 &&
        (!bus.registerObject(QStringLiteral("/org/freedesktop/secrets/aliases/default"), &keyring,
                             QDBusConnection::ExportAllProperties) ||
         !bus.registerService(QStringLiteral("org.freedesktop.secrets"))))
        return 1;
    std::puts("ready");
    std::fflush(stdout);
    QTimer::singleShot(60000, &app, &QCoreApplication::quit);
    return app.exec();
}

#include "fake_notifier.moc"
