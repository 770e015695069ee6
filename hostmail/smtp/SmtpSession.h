#pragma once

#include "hostmail/store/StorePaths.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

namespace hostmail::smtp {

// What became of one message, or of a connection test.
struct SmtpResult {
    enum class Outcome {
        Sent,          // the server took it (250 after the data)
        PartlyRefused, // taken for some recipients; refused names the others
        Unknown,       // the whole message went, then the connection was lost before the reply
        Temporary,     // refused for now (4xx) or lost before the message was sent: try again later
        Refused,       // refused for good (5xx)
        LoginRefused,  // the server refused the user name or password
        Insecure,      // no trusted encrypted connection: nothing was sent, no login either
        Unreachable,   // no connection, or no answer in time
    };
    Outcome outcome = Outcome::Sent;
    QString text;                 // in words, for the user and the log; never holds the password
    QStringList refused;          // recipients the server refused, with its reply
    QString untrustedCertificate; // "sha256:…" of a certificate that did not verify, for Trust
    // The run cannot go on with this account: nothing more is tried.
    bool stopsRun() const
    {
        return outcome == Outcome::LoginRefused || outcome == Outcome::Insecure || outcome == Outcome::Unreachable;
    }
};

// One connection to the user's mail server for a whole delivery run, through
// libcurl: STARTTLS required once chosen, TLS from the start, or plain text
// to a loopback address only; certificates verified (also against CaFile),
// or one certificate trusted by its SHA-256 fingerprint; AUTH as the server
// offers it (PLAIN, LOGIN). Every wait is bounded by timeoutSeconds.
class SmtpSession {
public:
    SmtpSession(SmtpSettings settings, QString password, int timeoutSeconds);
    ~SmtpSession();
    SmtpSession(const SmtpSession &) = delete;
    SmtpSession &operator=(const SmtpSession &) = delete;

    // Sends message (Bcc already taken out) from the envelope sender to every
    // recipient.
    SmtpResult send(const QString &from, const QStringList &recipients, const QByteArray &message);
    // Connects, logs in and says goodbye, sending nothing.
    SmtpResult check();
    // A flag another thread sets to end what runs within a second.
    void setCancelFlag(const std::atomic_bool *cancelled);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// Where an account's password comes from: a command that prints it, or the
// desktop keyring's entry for the account.
struct AccountSecret {
    QString what; // "mail account", for the messages
    QString user;
    QString passwordCommand;
    QString keyringAccount;
    QString legacyKeyringAccount; // read where keyringAccount has no entry
    bool inMemory = false;        // kept in memory until logout instead (see MemoryKeyring.h)
};
QString accountPassword(const AccountSecret &account);
void storeAccountPassword(const AccountSecret &account, const QString &password);

// For a process that must never prompt (the delivery agent on its timer):
// asked before the keyring is read, and when it says the keyring is locked,
// accountPassword throws instead of letting the keyring ask to unlock it.
void setKeyringLockedCheck(std::function<bool()> locked);

// The password of the account: from PasswordCommand's first line of output,
// else from the desktop keyring (secret-tool). Throws HostError saying why
// there is none. Never on a command line, never in a message.
QString accountPassword(const SmtpSettings &settings);
// Keeps the password in the desktop keyring; throws HostError.
void storeAccountPassword(const SmtpSettings &settings, const QString &password);
// The same for the address book account.
QString accountPassword(const CardDavSettings &settings);
void storeAccountPassword(const CardDavSettings &settings, const QString &password);

// The message as it goes to the server: without its Bcc header, and with a
// From header naming from where it had none.
QByteArray messageForTransfer(const QByteArray &message, const QString &from);

} // namespace hostmail::smtp
