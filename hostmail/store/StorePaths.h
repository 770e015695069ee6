#pragma once

#include <QHash>
#include <QString>

namespace hostmail {

// The user's mail account for sending (host.conf, group [Smtp]). With a host
// set, delivery goes through it; without, through the delivery command.
struct SmtpSettings {
    enum class Security { StartTls, Tls, None };
    QString host;
    int port = 587;
    Security security = Security::StartTls;
    QString user;
    QString passwordCommand;       // prints the password; else the desktop keyring holds it
    bool passwordInMemory = false; // KeepPassword=memory: in the kernel's keyring until logout, not the desktop's
    QString caFile;                // certificates to trust besides the system's
    QString trustedCertificate;    // SHA-256 fingerprint of a certificate trusted as it is
    int maxPerMinute = 0;          // 0: no limit
    QString signIn;                // the provider signed in with (OAuth 2.0); empty: a password
    bool enabled() const { return !host.isEmpty(); }
    // The keyring entry's account name: one entry per account (its user at
    // its server, whatever the port), one per sign-in (its refresh token
    // serves the mail and the address book).
    QString keyringAccount() const
    {
        return signIn.isEmpty() ? QStringLiteral("smtp:%1@%2").arg(user, host.toLower())
                                : QStringLiteral("signin:%1:%2").arg(signIn, user);
    }
    // The name earlier versions kept the password under, read where the new one has none.
    QString legacyKeyringAccount() const { return QStringLiteral("smtp:%1@%2:%3").arg(user, host).arg(port); }
};

// The user's address book server (host.conf, group [AddressBook]). With a URL set,
// the Contacts folder is kept in step with the server's address book.
struct CardDavSettings {
    QString url; // the server's root, a principal, or the address book itself
    QString user;
    QString passwordCommand;       // prints the password; else the desktop keyring holds it
    bool passwordInMemory = false; // KeepPassword=memory, as for the mail account
    QString caFile;                // certificates to trust besides the system's
    QString trustedCertificate;    // sha256:… of a certificate trusted for this host as it is
    QString addressBook;           // the address book's name, path or URL; empty: "contacts" or the first
    QString allowedSite;           // another site the user let the login go to, as the server named it
    QString signIn;                // the provider signed in with (OAuth 2.0); empty: a password
    // "graph": Microsoft Graph's contacts at url (its root, https://graph.microsoft.com/v1.0),
    // from the default contacts folder or the one addressBook names; else CardDAV.
    QString kind;
    bool graph() const { return kind == QLatin1String("graph"); }
    bool enabled() const { return !url.isEmpty(); }
    QString keyringAccount() const
    {
        return signIn.isEmpty() ? QStringLiteral("carddav:%1@%2").arg(user, url)
                                : QStringLiteral("signin:%1:%2").arg(signIn, user);
    }
};

// How the program signs in with providers (host.conf, group [SignIn]): the
// file of provider presets instead of the installed one, the command that
// opens the browser (the address is its last argument; default xdg-open),
// where discovery looks (for tests and closed networks), and client IDs
// that replace the ones built in (groups [SignIn.<provider>],
// keys ClientId and ClientSecret).
struct SignInSettings {
    QString providersFile;
    QString browser;
    QString resolver;       // a name server's address for discovery instead of the system's
    QString autoconfigBase; // a base address for the autoconfig documents instead of each domain's
    QString caFile;         // certificates besides the system's for the autoconfig sites
    QHash<QString, QString> clientIds;
    QHash<QString, QString> clientSecrets;
};

// Where the local mail host keeps each folder, and how it delivers mail.
// Defaults live under $XDG_DATA_HOME/cheerpost; each can be overridden in
// $XDG_CONFIG_HOME/cheerpost/host.conf (keys Contacts, Calendar, Tasks, Notes,
// Mail, State, DeliveryCommand, DeliveryTimeout in seconds, From, DeliveryAgent,
// and the groups [Smtp] and [AddressBook]).
struct StorePaths {
    QString contacts;
    QString calendar;
    QString tasks;
    QString notes;
    QString mail; // holds the Maildirs Drafts, Outbox and Sent
    // What the program keeps for itself: run logs, sync state. Default
    // $XDG_STATE_HOME/cheerpost (key State).
    QString state;
    QString deliveryCommand = QStringLiteral("/usr/sbin/sendmail -t -oi");
    int deliveryTimeoutSeconds = 60; // kept within 1 s and 1 h
    QString from;                    // From: of new messages; empty leaves it to the delivery agent
    // The program that delivers what is due (cheerpost-deliver), started
    // detached after a command queued mail; empty starts none.
    QString deliveryAgent;
    SmtpSettings smtp;
    CardDavSettings cardDav;
    SignInSettings signIn;

    static constexpr int kMinTimeoutSeconds = 1;
    static constexpr int kMaxTimeoutSeconds = 3600;

    static StorePaths underRoot(const QString &root);
    // Lets the address book's login go to site too ([AddressBook] AllowedSite
    // of host.conf); false when the file could not be written.
    static bool allowAddressBookSite(const QString &site);
    static StorePaths fromConfiguration();
    static QString configurationFile();

    QString drafts() const { return mail + QLatin1String("/Drafts"); }
    QString outbox() const { return mail + QLatin1String("/Outbox"); }
    QString sent() const { return mail + QLatin1String("/Sent"); }
    // Beside the Maildirs: what each failed delivery attempt said.
    QString deliveryLog() const { return mail + QLatin1String("/delivery.log"); }
};

} // namespace hostmail
