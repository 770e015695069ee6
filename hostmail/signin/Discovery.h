#pragma once

#include "hostmail/signin/Providers.h"
#include "hostmail/store/StorePaths.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>
#include <QStringList>

#include <atomic>

namespace hostmail::signin {

// What the account settings of an e-mail address were found to be.
struct Discovered {
    QString providerId;   // a known provider (by the address or its MX hosts)
    QString providerName; // for the window
    SmtpSettings smtp;    // host empty: no mail server found
    QString contactsKind; // "carddav", "graph", or empty: none found
    QString contactsUrl;
    QString signIn;       // the provider to sign in with, where it takes no password
    QString passwordNote; // what password the provider wants, where it is not the usual one
    QStringList sources;  // where each part was found, in words
    bool found() const { return !smtp.host.isEmpty() || !contactsUrl.isEmpty(); }
};

// Where discovery looks: the system's resolver and the provider's own https
// sites, unless host.conf's [SignIn] names a name server (Resolver=) or a
// base address for the autoconfig documents (AutoconfigBase=).
struct DiscoveryOptions {
    QString resolver;
    QString autoconfigBase;
    QString caFile; // certificates besides the system's, for the autoconfig sites
    QDeadlineTimer deadline = QDeadlineTimer(30000);
    const std::atomic_bool *cancelled = nullptr;
};

// Finds the settings of the account of address, in this order: the provider
// presets, the provider's autoconfig document (clientConfig 1.1, https
// only), DNS SRV records (RFC 6186 and 8314 for submission, RFC 6764 with
// its TXT path for CardDAV), and MX hosts that name a known provider. Each
// part comes from the first source that has it. Never throws: what was not
// found stays empty.
Discovered discoverAccount(const QString &address, const QList<Provider> &providers, const DiscoveryOptions &options);

// The mail server and address book of a clientConfig document for address;
// providers name the sign-in of an OAuth2 server. Servers without
// encryption are passed over.
Discovered parseAutoconfig(const QByteArray &xml, const QString &address, const QList<Provider> &providers);

// Whether text is a host name a server may name: letters, digits, dots and
// hyphens in labels, or an address.
bool isHostName(const QString &text);

} // namespace hostmail::signin
