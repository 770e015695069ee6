#pragma once

#include "hostmail/store/StorePaths.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

namespace hostmail::signin {

// Where a provider signs users in (OAuth 2.0, authorization code with PKCE).
struct SignInService {
    QString authorizeUrl;
    QString tokenUrl;
    QStringList mailScopes;     // what sending mail needs
    QStringList contactsScopes; // what the address book needs
    QString clientId;           // empty: none registered for this program yet
    QString clientSecret;       // only where the provider issues one to desktop programs
    QString clientOf;           // another preset whose registration this one shares
    // The loopback name in the redirect address, as the registration has it:
    // 127.0.0.1 (RFC 8252), or localhost where a provider matches only that.
    QString redirectHost = QStringLiteral("127.0.0.1");
    bool needed() const { return !authorizeUrl.isEmpty(); }
};

// A mail provider as the presets file describes it.
struct Provider {
    QString id;   // "google"
    QString name; // "Google"
    QStringList domains;
    QStringList mxDomains; // a domain whose MX host ends in one of these is hosted here
    SmtpSettings smtp;     // host, port and security
    QString contactsKind;  // "carddav", "graph", or empty
    QString contactsUrl;
    QString passwordNote; // what password the provider wants, where it is not the usual one
    SignInService signIn;
};

// The provider presets: the file named in host.conf, else the installed
// one, else the one built in; client IDs from host.conf, else from the
// build. Throws HostError naming a file that is not a presets file.
QList<Provider> loadProviders(const SignInSettings &settings);
// Reads presets from JSON text; where names the file in errors.
QList<Provider> parseProviders(const QByteArray &json, const QString &where);

// The provider of an e-mail address's domain, or null.
const Provider *providerForAddress(const QList<Provider> &providers, const QString &address);
// The provider whose mail servers receive for a domain, by its MX hosts.
const Provider *providerForMx(const QList<Provider> &providers, const QStringList &mxHosts);
const Provider *providerById(const QList<Provider> &providers, const QString &id);

// What the build carries (generated from providers.json and the CMake options).
QByteArray builtInProviders();
QHash<QString, QString> builtInClientIds();
QHash<QString, QString> builtInClientSecrets();

} // namespace hostmail::signin
