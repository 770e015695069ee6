#include "shell/core/MailAccount.h"

#include "hostmail/HostError.h"
#include "hostmail/signin/SignIn.h"

#include <QDateTime>
#include <QSettings>
#include <QUrl>

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
    conf.beginGroup(QStringLiteral("Smtp"));
    conf.setValue(QStringLiteral("Host"), account.host);
    conf.setValue(QStringLiteral("Port"), account.port);
    conf.setValue(QStringLiteral("Security"), QString::fromLatin1(securityName(account.security)));
    conf.setValue(QStringLiteral("User"), account.user);
    conf.endGroup();
    conf.sync();
    return conf.status() == QSettings::NoError ? QString() : QStringLiteral("Cannot write %1").arg(configurationFile);
}

hostmail::smtp::SmtpResult testMailAccount(const hostmail::SmtpSettings &account, const QString &password)
{
    hostmail::smtp::SmtpResult r;
    const QString secret = passwordFor(account, password, &r);
    if (!r.text.isEmpty())
        return r;
    return hostmail::smtp::SmtpSession(account, secret, kTimeoutSeconds).check();
}

hostmail::smtp::SmtpResult sendTestMessage(const hostmail::SmtpSettings &account, const QString &password,
                                           const QString &from)
{
    hostmail::smtp::SmtpResult r;
    const QString secret = passwordFor(account, password, &r);
    if (!r.text.isEmpty())
        return r;
    const QString address = from.isEmpty() ? account.user : from;
    const QByteArray message =
        QStringLiteral("From: %1\r\nTo: %1\r\nSubject: Cheerpost test message\r\nDate: %2\r\nMIME-Version: 1.0\r\n"
                       "Content-Type: text/plain; charset=utf-8\r\n\r\nThis message shows that Cheerpost can send "
                       "mail through your account.\r\n")
            .arg(address, QDateTime::currentDateTime().toString(Qt::RFC2822Date))
            .toUtf8();
    r = hostmail::smtp::SmtpSession(account, secret, kTimeoutSeconds).send(address, {address}, message);
    if (r.outcome == hostmail::smtp::SmtpResult::Outcome::Sent)
        r.text = QStringLiteral("A test message went to %1.").arg(address);
    return r;
}

QString saveAddressBookAccount(const QString &configurationFile, const hostmail::CardDavSettings &account)
{
    QSettings conf(configurationFile, QSettings::IniFormat);
    conf.beginGroup(QStringLiteral("AddressBook"));
    conf.setValue(QStringLiteral("Url"), account.url);
    conf.setValue(QStringLiteral("User"), account.user);
    const auto setOrRemove = [&conf](const QString &key, const QString &value) {
        if (value.isEmpty())
            conf.remove(key);
        else
            conf.setValue(key, value);
    };
    setOrRemove(QStringLiteral("AddressBook"), account.addressBook);
    setOrRemove(QStringLiteral("TrustedCertificate"), account.trustedCertificate);
    conf.endGroup();
    conf.sync();
    return conf.status() == QSettings::NoError ? QString() : QStringLiteral("Cannot write %1").arg(configurationFile);
}

AddressBookTest testAddressBook(const hostmail::CardDavSettings &account, const QString &password)
{
    hostmail::StorePaths paths = hostmail::StorePaths::fromConfiguration();
    paths.cardDav = account;
    const hostmail::carddav::SyncReport r = hostmail::carddav::AddressBookSync(paths, password).findAddressBook();
    AddressBookTest test{r.failure, r.available, QUrl(r.found).path(), r.untrustedCertificate};
    if (!r.completed)
        return test;
    test.text = QStringLiteral("Logged in; the contacts will come from %1.").arg(r.found);
    if (r.available.size() > 1)
        test.text += QStringLiteral(" %1 address books were found; choose one in the list.").arg(r.available.size());
    return test;
}

} // namespace shell
