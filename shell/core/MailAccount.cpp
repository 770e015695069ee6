#include "shell/core/MailAccount.h"

#include "hostmail/HostError.h"
#include "hostmail/signin/SignIn.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QSettings>
#include <QUrl>

#include <algorithm>

namespace shell {

namespace {

constexpr int kTimeoutSeconds = 20;

const char *securityName(hostmail::SmtpSettings::Security s)
{
    switch (s) {
    case hostmail::SmtpSettings::Security::Tls:
        return "tls";
    case hostmail::SmtpSettings::Security::None:
        return "none";
    case hostmail::SmtpSettings::Security::StartTls:
        break;
    }
    return "starttls";
}

void setOrRemove(QSettings &conf, const QString &key, const QString &value)
{
    if (value.isEmpty())
        conf.remove(key);
    else
        conf.setValue(key, value);
}

void writeMailAccount(QSettings &conf, const hostmail::SmtpSettings &account)
{
    conf.beginGroup(QStringLiteral("Smtp"));
    conf.setValue(QStringLiteral("Host"), account.host);
    conf.setValue(QStringLiteral("Port"), account.port);
    conf.setValue(QStringLiteral("Security"), QString::fromLatin1(securityName(account.security)));
    conf.setValue(QStringLiteral("User"), account.user);
    setOrRemove(conf, QStringLiteral("SignIn"), account.signIn);
    setOrRemove(conf, QStringLiteral("TrustedCertificate"), account.trustedCertificate);
    if (!account.passwordCommand.isEmpty())
        conf.setValue(QStringLiteral("PasswordCommand"), account.passwordCommand);
    setOrRemove(conf, QStringLiteral("KeepPassword"), account.passwordInMemory ? QStringLiteral("memory") : QString());
    conf.endGroup();
}

void writeAddressBook(QSettings &conf, const hostmail::CardDavSettings &account)
{
    conf.beginGroup(QStringLiteral("AddressBook"));
    conf.setValue(QStringLiteral("Url"), account.url);
    conf.setValue(QStringLiteral("User"), account.user);
    setOrRemove(conf, QStringLiteral("AddressBook"), account.addressBook);
    setOrRemove(conf, QStringLiteral("TrustedCertificate"), account.trustedCertificate);
    setOrRemove(conf, QStringLiteral("SignIn"), account.signIn);
    setOrRemove(conf, QStringLiteral("Kind"), account.kind);
    if (!account.passwordCommand.isEmpty())
        conf.setValue(QStringLiteral("PasswordCommand"), account.passwordCommand);
    setOrRemove(conf, QStringLiteral("KeepPassword"), account.passwordInMemory ? QStringLiteral("memory") : QString());
    conf.endGroup();
}

void writeSender(QSettings &conf, const QString &name, const QString &address)
{
    setOrRemove(conf, QStringLiteral("From"), address.trimmed().isEmpty() ? QString() : senderLine(name, address));
}

// Writes what conf holds, all at once; an error text, or empty.
QString written(QSettings &conf, const QString &file)
{
    conf.sync();
    return conf.status() == QSettings::NoError ? QString() : QStringLiteral("Cannot write %1").arg(file);
}

// The password to use: the one typed, else the account's own.
QString passwordFor(const hostmail::SmtpSettings &account, const QString &typed, hostmail::smtp::SmtpResult *failed)
{
    if (!typed.isEmpty())
        return typed;
    try {
        return hostmail::signin::loginSecret(hostmail::StorePaths::fromConfiguration(), account);
    } catch (const hostmail::HostError &e) {
        failed->outcome = hostmail::smtp::SmtpResult::Outcome::LoginRefused;
        failed->text = QString::fromUtf8(e.what());
        return {};
    }
}

} // namespace

hostmail::SmtpSettings loadMailAccount()
{
    // The same reading as the delivery agent's.
    return hostmail::StorePaths::fromConfiguration().smtp;
}

QString saveMailAccount(const QString &configurationFile, const hostmail::SmtpSettings &account)
{
    QSettings conf(configurationFile, QSettings::IniFormat);
    writeMailAccount(conf, account);
    return written(conf, configurationFile);
}

hostmail::smtp::SmtpResult testMailAccount(const hostmail::SmtpSettings &account, const QString &password,
                                           const std::atomic_bool *cancelled)
{
    hostmail::smtp::SmtpResult r;
    const QString secret = passwordFor(account, password, &r);
    if (!r.text.isEmpty())
        return r;
    hostmail::smtp::SmtpSession session(account, secret, kTimeoutSeconds);
    session.setCancelFlag(cancelled);
    return session.check();
}

hostmail::smtp::SmtpResult sendTestMessage(const hostmail::SmtpSettings &account, const QString &password,
                                           const QString &from, const std::atomic_bool *cancelled)
{
    hostmail::smtp::SmtpResult r;
    const QString secret = passwordFor(account, password, &r);
    if (!r.text.isEmpty())
        return r;
    // The envelope takes the address alone; the header the name too, where it is plain ASCII.
    const QString line = from.isEmpty() ? account.user : from;
    const QString address = splitSender(line).second;
    const bool ascii =
        std::all_of(line.begin(), line.end(), [](QChar c) { return c.unicode() >= 32 && c.unicode() < 127; });
    const QByteArray message =
        QStringLiteral("From: %1\r\nTo: %2\r\nSubject: Cheerpost test message\r\nDate: %3\r\nMIME-Version: 1.0\r\n"
                       "Content-Type: text/plain; charset=utf-8\r\n\r\nThis message shows that Cheerpost can send "
                       "mail through your account.\r\n")
            .arg(ascii ? line : address, address, QDateTime::currentDateTime().toString(Qt::RFC2822Date))
            .toUtf8();
    hostmail::smtp::SmtpSession session(account, secret, kTimeoutSeconds);
    session.setCancelFlag(cancelled);
    r = session.send(address, {address}, message);
    if (r.outcome == hostmail::smtp::SmtpResult::Outcome::Sent)
        r.text = QStringLiteral("A test message went to %1.").arg(address);
    return r;
}

QString saveAddressBookAccount(const QString &configurationFile, const hostmail::CardDavSettings &account)
{
    QSettings conf(configurationFile, QSettings::IniFormat);
    writeAddressBook(conf, account);
    return written(conf, configurationFile);
}

QString saveAccounts(const QString &configurationFile, const hostmail::SmtpSettings &mail,
                     const hostmail::CardDavSettings &book, const QString &name, const QString &address)
{
    QSettings conf(configurationFile, QSettings::IniFormat);
    writeMailAccount(conf, mail);
    writeAddressBook(conf, book);
    writeSender(conf, name, address);
    return written(conf, configurationFile);
}

AddressBookTest testAddressBook(const hostmail::CardDavSettings &account, const QString &password,
                                const std::atomic_bool *cancelled)
{
    hostmail::StorePaths paths = hostmail::StorePaths::fromConfiguration();
    paths.cardDav = account;
    hostmail::carddav::AddressBookSync sync(paths, password);
    sync.limits.cancelled = cancelled;
    const hostmail::carddav::SyncReport r = sync.findAddressBook();
    AddressBookTest test{r.failure, r.available, QUrl(r.found).path(), r.untrustedCertificate};
    if (!r.completed)
        return test;
    test.text = QStringLiteral("Logged in; the contacts will come from %1.").arg(r.found);
    if (r.available.size() > 1)
        test.text += QStringLiteral(" %1 address books were found; choose one in the list.").arg(r.available.size());
    return test;
}

hostmail::signin::Discovered findAccountSettings(const QString &address, const std::atomic_bool *cancelled)
{
    const hostmail::SignInSettings settings = hostmail::StorePaths::fromConfiguration().signIn;
    hostmail::signin::DiscoveryOptions options;
    options.resolver = settings.resolver;
    options.autoconfigBase = settings.autoconfigBase;
    options.caFile = settings.caFile;
    options.cancelled = cancelled;
    QList<hostmail::signin::Provider> providers;
    try {
        providers = hostmail::signin::loadProviders(settings);
    } catch (const hostmail::HostError &) {
        // A broken presets file leaves the other sources.
    }
    return hostmail::signin::discoverAccount(address.trimmed(), providers, options);
}

QString signInWithProvider(const QString &providerId, const QString &address, bool inMemory,
                           const std::atomic_bool *cancelled)
{
    constexpr int kSignInMinutes = 5;
    try {
        const hostmail::SignInSettings settings = hostmail::StorePaths::fromConfiguration().signIn;
        const QList<hostmail::signin::Provider> providers = hostmail::signin::loadProviders(settings);
        const hostmail::signin::Provider *provider = hostmail::signin::providerById(providers, providerId);
        if (!provider)
            return QStringLiteral("The provider presets do not know \"%1\"").arg(providerId);
        const hostmail::signin::Tokens tokens = hostmail::signin::signIn(
            *provider, address, settings.browser, QDeadlineTimer(kSignInMinutes * 60 * 1000), cancelled);
        hostmail::signin::keepTokens(providerId, address, tokens, inMemory);
        return {};
    } catch (const hostmail::HostError &e) {
        return QString::fromUtf8(e.what());
    }
}

QString senderLine(const QString &name, const QString &address)
{
    const QString n = name.simplified(), a = address.trimmed();
    if (n.isEmpty())
        return a;
    // A name with a special character of RFC 5322 goes in quotes.
    static const QRegularExpression special(QStringLiteral("[()<>\\[\\]:;@\\\\,.\"]"));
    if (n.contains(special)) {
        QString quoted = n;
        quoted.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
        return QStringLiteral("\"%1\" <%2>").arg(quoted, a);
    }
    return QStringLiteral("%1 <%2>").arg(n, a);
}

std::pair<QString, QString> splitSender(const QString &line)
{
    const qsizetype open = line.lastIndexOf(QLatin1Char('<'));
    if (open < 0 || !line.trimmed().endsWith(QLatin1Char('>')))
        return {QString(), line.trimmed()};
    QString name = line.left(open).trimmed();
    if (name.size() >= 2 && name.startsWith(QLatin1Char('"')) && name.endsWith(QLatin1Char('"'))) {
        name = name.mid(1, name.size() - 2);
        name.replace(QLatin1String("\\\""), QLatin1String("\"")).replace(QLatin1String("\\\\"), QLatin1String("\\"));
    }
    const QString rest = line.mid(open + 1).trimmed();
    return {name, rest.left(rest.size() - 1).trimmed()};
}

QString saveSender(const QString &configurationFile, const QString &name, const QString &address)
{
    QSettings conf(configurationFile, QSettings::IniFormat);
    writeSender(conf, name, address);
    return written(conf, configurationFile);
}

} // namespace shell
