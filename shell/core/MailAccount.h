#pragma once

#include "hostmail/carddav/AddressBookSync.h"
#include "hostmail/signin/Discovery.h"
#include "hostmail/smtp/SmtpSession.h"
#include "hostmail/store/StorePaths.h"

#include <QString>

#include <atomic>

namespace shell {

// The mail account of the Accounts window: kept in host.conf's [Smtp] group,
// its password in the desktop keyring, never in a file.
hostmail::SmtpSettings loadMailAccount();
// Writes the account's keys, leaving every other key of the file as it was.
// Returns an error text, or empty.
QString saveMailAccount(const QString &configurationFile, const hostmail::SmtpSettings &account);

// Connects, logs in and says goodbye: the result in words. With an empty
// password, the one the account already has (keyring or PasswordCommand).
// Each ends within a second once cancelled is set.
hostmail::smtp::SmtpResult testMailAccount(const hostmail::SmtpSettings &account, const QString &password,
                                           const std::atomic_bool *cancelled = nullptr);
// Sends a short message from the account's address to itself.
hostmail::smtp::SmtpResult sendTestMessage(const hostmail::SmtpSettings &account, const QString &password,
                                           const QString &from, const std::atomic_bool *cancelled = nullptr);

// The address book account, in host.conf's [AddressBook] group (with the
// address book chosen and a certificate the user trusts); its password in the
// keyring as well.
QString saveAddressBookAccount(const QString &configurationFile, const hostmail::CardDavSettings &account);
// What the test of the address book account found.
struct AddressBookTest {
    QString text;                                     // in words
    QList<hostmail::carddav::FoundAddressBook> books; // every address book found
    QString chosen;                                   // the path of the one the contacts will come from
    QString untrustedCertificate;                     // "sha256:…" for Trust, when the certificate did not verify
};
// Logs in and finds the address book, changing nothing.
AddressBookTest testAddressBook(const hostmail::CardDavSettings &account, const QString &password,
                                const std::atomic_bool *cancelled = nullptr);

// The settings of both accounts found from the e-mail address (presets,
// autoconfig, DNS), looked for where host.conf's [SignIn] says.
hostmail::signin::Discovered findAccountSettings(const QString &address, const std::atomic_bool *cancelled);

// Signs address in with the provider in the browser and keeps the sign-in
// in the keyring (or in memory until logout). Returns an error text, or empty.
QString signInWithProvider(const QString &providerId, const QString &address, bool inMemory,
                           const std::atomic_bool *cancelled);

// The sender of every message, kept as host.conf's From: "Name <address>".
QString senderLine(const QString &name, const QString &address);
// The name and the address of a sender line.
std::pair<QString, QString> splitSender(const QString &line);
QString saveSender(const QString &configurationFile, const QString &name, const QString &address);
// Both accounts and the sender in one write: all of it reaches the file, or none.
QString saveAccounts(const QString &configurationFile, const hostmail::SmtpSettings &mail,
                     const hostmail::CardDavSettings &book, const QString &name, const QString &address);

} // namespace shell
