#include "hostmail/store/StorePaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace hostmail {

namespace {

// cheerpost-deliver beside the program (an installation), in the build tree
// beside it, or on PATH.
QString installedDeliveryAgent()
{
    const QString here = QCoreApplication::applicationDirPath();
    for (const QString &candidate : {here + QLatin1String("/cheerpost-deliver"),
                                     here + QLatin1String("/../hostmail/delivery/cheerpost-deliver")}) {
        if (QFileInfo(candidate).isExecutable())
            return QDir::cleanPath(candidate);
    }
    return QStandardPaths::findExecutable(QStringLiteral("cheerpost-deliver"));
}

// The [Smtp] group; an unknown security is the safe one, STARTTLS.
SmtpSettings smtpSettings(QSettings &conf, const QString &confDir)
{
    SmtpSettings s;
    conf.beginGroup(QStringLiteral("Smtp"));
    s.host = conf.value(QStringLiteral("Host")).toString().trimmed();
    const QString security = conf.value(QStringLiteral("Security")).toString().trimmed().toLower();
    if (security == QLatin1String("tls"))
        s.security = SmtpSettings::Security::Tls;
    else if (security == QLatin1String("none"))
        s.security = SmtpSettings::Security::None;
    bool number = false;
    const int port = conf.value(QStringLiteral("Port")).toInt(&number);
    s.port = number && port > 0 && port < 65536 ? port : s.security == SmtpSettings::Security::Tls ? 465 : 587;
    s.user = conf.value(QStringLiteral("User")).toString().trimmed();
    const QVariant command = conf.value(QStringLiteral("PasswordCommand"));
    s.passwordCommand =
        command.typeId() == QMetaType::QStringList ? command.toStringList().join(QLatin1Char(',')) : command.toString();
    const QString ca = conf.value(QStringLiteral("CaFile")).toString();
    if (!ca.isEmpty())
        s.caFile =
            QDir(confDir).absoluteFilePath(ca.startsWith(QLatin1String("~/")) ? QDir::homePath() + ca.mid(1) : ca);
    s.trustedCertificate = conf.value(QStringLiteral("TrustedCertificate")).toString().trimmed();
    s.maxPerMinute = qMax(0, conf.value(QStringLiteral("MaxPerMinute")).toInt());
    conf.endGroup();
    return s;
}

} // namespace

StorePaths StorePaths::underRoot(const QString &root)
{
    StorePaths p;
    p.contacts = root + QLatin1String("/Contacts");
    p.calendar = root + QLatin1String("/Calendar");
    p.tasks = root + QLatin1String("/Tasks");
    p.notes = root + QLatin1String("/Notes");
    p.mail = root + QLatin1String("/Mail");
    p.state = root + QLatin1String("/State");
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
    QString stateHome = qEnvironmentVariable("XDG_STATE_HOME");
    if (stateHome.isEmpty() || !QDir::isAbsolutePath(stateHome))
        stateHome = QDir::homePath() + QLatin1String("/.local/state");
    p.state = path("State", stateHome + QLatin1String("/cheerpost"));
    const QString command = text("DeliveryCommand");
    if (!command.isEmpty())
        p.deliveryCommand = command;
    bool number = false;
    const qlonglong timeout = conf.value(QStringLiteral("DeliveryTimeout")).toLongLong(&number);
    if (number)
        p.deliveryTimeoutSeconds = int(qBound(qlonglong(kMinTimeoutSeconds), timeout, qlonglong(kMaxTimeoutSeconds)));
    p.from = text("From");
    p.smtp = smtpSettings(conf, confDir);
    conf.beginGroup(QStringLiteral("AddressBook"));
    p.cardDav.url = conf.value(QStringLiteral("Url")).toString().trimmed();
    p.cardDav.user = conf.value(QStringLiteral("User")).toString().trimmed();
    p.cardDav.passwordCommand = conf.value(QStringLiteral("PasswordCommand")).toString();
    const QString ca = conf.value(QStringLiteral("CaFile")).toString();
    if (!ca.isEmpty())
        p.cardDav.caFile = QDir(confDir).absoluteFilePath(ca);
    p.cardDav.addressBook = conf.value(QStringLiteral("AddressBook")).toString().trimmed();
    p.cardDav.trustedCertificate = conf.value(QStringLiteral("TrustedCertificate")).toString().trimmed();
    conf.endGroup();
    p.deliveryAgent = text("DeliveryAgent");
    if (p.deliveryAgent.isEmpty())
        p.deliveryAgent = installedDeliveryAgent();
    return p;
}

} // namespace hostmail
