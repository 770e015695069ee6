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

// A value as text: an INI value holding a comma reads as a list, and the
// host wants the text as written.
QString textValue(const QSettings &conf, const QString &key)
{
    const QVariant v = conf.value(key);
    return v.typeId() == QMetaType::QStringList ? v.toStringList().join(QLatin1Char(',')) : v.toString();
}

// KeepPassword=memory: the account's password is kept in memory until
// logout rather than in the desktop keyring.
bool keptInMemory(const QSettings &conf)
{
    return textValue(conf, QStringLiteral("KeepPassword"))
               .trimmed()
               .compare(QLatin1String("memory"), Qt::CaseInsensitive) == 0;
}

// A file or folder named in host.conf: "~/" is the home folder, and a
// relative path is relative to host.conf's folder. Empty stays empty.
QString pathValue(const QSettings &conf, const QString &key, const QString &confDir)
{
    QString v = textValue(conf, key);
    if (v.isEmpty())
        return v;
    if (v.startsWith(QLatin1String("~/")))
        v = QDir::homePath() + v.mid(1);
    return QDir(confDir).absoluteFilePath(v);
}

// The [Smtp] group; an unknown security is the safe one, STARTTLS.
SmtpSettings smtpSettings(QSettings &conf, const QString &confDir)
{
    SmtpSettings s;
    conf.beginGroup(QStringLiteral("Smtp"));
    s.host = textValue(conf, QStringLiteral("Host")).trimmed();
    const QString security = textValue(conf, QStringLiteral("Security")).trimmed().toLower();
    if (security == QLatin1String("tls"))
        s.security = SmtpSettings::Security::Tls;
    else if (security == QLatin1String("none"))
        s.security = SmtpSettings::Security::None;
    bool number = false;
    const int port = conf.value(QStringLiteral("Port")).toInt(&number);
    s.port = number && port > 0 && port < 65536 ? port : s.security == SmtpSettings::Security::Tls ? 465 : 587;
    s.user = textValue(conf, QStringLiteral("User")).trimmed();
    s.passwordCommand = textValue(conf, QStringLiteral("PasswordCommand"));
    s.passwordInMemory = keptInMemory(conf);
    s.caFile = pathValue(conf, QStringLiteral("CaFile"), confDir);
    s.trustedCertificate = textValue(conf, QStringLiteral("TrustedCertificate")).trimmed();
    s.maxPerMinute = qMax(0, conf.value(QStringLiteral("MaxPerMinute")).toInt());
    s.signIn = textValue(conf, QStringLiteral("SignIn")).trimmed().toLower();
    conf.endGroup();
    return s;
}

// The [AddressBook] group, read by the same rules.
CardDavSettings cardDavSettings(QSettings &conf, const QString &confDir)
{
    CardDavSettings s;
    conf.beginGroup(QStringLiteral("AddressBook"));
    s.url = textValue(conf, QStringLiteral("Url")).trimmed();
    s.user = textValue(conf, QStringLiteral("User")).trimmed();
    s.passwordCommand = textValue(conf, QStringLiteral("PasswordCommand"));
    s.passwordInMemory = keptInMemory(conf);
    s.caFile = pathValue(conf, QStringLiteral("CaFile"), confDir);
    s.addressBook = textValue(conf, QStringLiteral("AddressBook")).trimmed();
    s.trustedCertificate = textValue(conf, QStringLiteral("TrustedCertificate")).trimmed();
    s.allowedSite = textValue(conf, QStringLiteral("AllowedSite")).trimmed();
    s.signIn = textValue(conf, QStringLiteral("SignIn")).trimmed().toLower();
    s.kind = textValue(conf, QStringLiteral("Kind")).trimmed().toLower();
    conf.endGroup();
    return s;
}

// The [SignIn] group and a [SignIn.<provider>] group per client ID.
SignInSettings signInSettings(QSettings &conf, const QString &confDir)
{
    SignInSettings s;
    conf.beginGroup(QStringLiteral("SignIn"));
    s.providersFile = pathValue(conf, QStringLiteral("Providers"), confDir);
    s.browser = textValue(conf, QStringLiteral("Browser"));
    s.resolver = textValue(conf, QStringLiteral("Resolver")).trimmed();
    s.autoconfigBase = textValue(conf, QStringLiteral("AutoconfigBase")).trimmed();
    s.caFile = pathValue(conf, QStringLiteral("CaFile"), confDir);
    conf.endGroup();
    const QString prefix = QStringLiteral("SignIn.");
    for (const QString &group : conf.childGroups()) {
        if (!group.startsWith(prefix) || group.size() == prefix.size())
            continue;
        conf.beginGroup(group);
        const QString provider = group.mid(prefix.size()).toLower();
        const QString id = textValue(conf, QStringLiteral("ClientId")).trimmed();
        const QString secret = textValue(conf, QStringLiteral("ClientSecret")).trimmed();
        if (!id.isEmpty())
            s.clientIds.insert(provider, id);
        if (!secret.isEmpty())
            s.clientSecrets.insert(provider, secret);
        conf.endGroup();
    }
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

bool StorePaths::allowAddressBookSite(const QString &site)
{
    QSettings conf(configurationFile(), QSettings::IniFormat);
    conf.setValue(QStringLiteral("AddressBook/AllowedSite"), site.trimmed());
    conf.sync();
    return conf.status() == QSettings::NoError;
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
    auto text = [&](const char *key) { return textValue(conf, QLatin1String(key)); };
    auto path = [&](const char *key, const QString &fallback) {
        const QString v = pathValue(conf, QLatin1String(key), confDir);
        return v.isEmpty() ? fallback : v;
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
    p.cardDav = cardDavSettings(conf, confDir);
    p.signIn = signInSettings(conf, confDir);
    p.deliveryAgent = text("DeliveryAgent");
    if (p.deliveryAgent.isEmpty())
        p.deliveryAgent = installedDeliveryAgent();
    return p;
}

} // namespace hostmail
