#include "hostmail/store/StorePaths.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace hostmail {

StorePaths StorePaths::underRoot(const QString &root)
{
    StorePaths p;
    p.contacts = root + QLatin1String("/Contacts");
    p.calendar = root + QLatin1String("/Calendar");
    p.tasks = root + QLatin1String("/Tasks");
    p.notes = root + QLatin1String("/Notes");
    p.mail = root + QLatin1String("/Mail");
    return p;
}

QString StorePaths::configurationFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1String("/cheerpost/host.conf");
}

StorePaths StorePaths::fromConfiguration()
{
    const QString root =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QLatin1String("/cheerpost");
    StorePaths p = underRoot(root);
    QSettings conf(configurationFile(), QSettings::IniFormat);
    const QString confDir = QFileInfo(configurationFile()).absolutePath();
    // An INI value holding a comma reads as a list; the host wants the text.
    auto text = [&](const char *key) {
        const QVariant v = conf.value(QLatin1String(key));
        return v.typeId() == QMetaType::QStringList ? v.toStringList().join(QLatin1Char(',')) : v.toString();
    };
    auto path = [&](const char *key, const QString &fallback) {
        const QString v = text(key);
        if (v.isEmpty())
            return fallback;
        QString expanded = v;
        if (expanded.startsWith(QLatin1String("~/")))
            expanded = QDir::homePath() + expanded.mid(1);
        return QDir(confDir).absoluteFilePath(expanded);
    };
    p.contacts = path("Contacts", p.contacts);
    p.calendar = path("Calendar", p.calendar);
    p.tasks = path("Tasks", p.tasks);
    p.notes = path("Notes", p.notes);
    p.mail = path("Mail", p.mail);
    const QString command = text("DeliveryCommand");
    if (!command.isEmpty())
        p.deliveryCommand = command;
    const int timeout = conf.value(QStringLiteral("DeliveryTimeout")).toInt();
    if (timeout > 0)
        p.deliveryTimeoutSeconds = timeout;
    p.from = text("From");
    return p;
}

} // namespace hostmail
