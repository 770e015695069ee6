#pragma once

#include "hostmail/signin/Providers.h"
#include "hostmail/store/StorePaths.h"

#include <QByteArray>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QString>
#include <QUrl>

#include <atomic>

namespace hostmail::signin {

// What a sign-in or a refresh gave. The access token lives in memory only;
// the refresh token goes to the keyring like a password.
struct Tokens {
    QString access;
    QString refresh;
    QDateTime expires; // UTC
};

// Proof Key for Code Exchange (RFC 7636): the verifier stays here, the
// challenge (its SHA-256, base64url) goes with the authorization request.
struct Pkce {
    QByteArray verifier;
    QByteArray challenge;
    static Pkce make();
};

enum class Purpose { Mail, Contacts };

// The authorization request the browser opens.
QUrl authorizationUrl(const Provider &provider, const QString &redirectUri, const QByteArray &state, const Pkce &pkce,
                      const QString &loginHint);

// Signs the user in: opens the provider's page in the browser (the command
// given, else xdg-open; the address is its last argument), waits for the
// provider to send the browser back to a loopback address on 127.0.0.1 with
// the code, and exchanges the code for tokens. Asks for the mail and the
// contacts scopes at once, so one sign-in serves both accounts. Throws
// HostError saying why there are no tokens: refused in the browser, no
// answer before the deadline, cancelled, or the provider's own error.
Tokens signIn(const Provider &provider, const QString &loginHint, const QString &browserCommand,
              QDeadlineTimer deadline, const std::atomic_bool *cancelled = nullptr);

// A new access token for purpose from the refresh token. Throws HostError;
// a refresh token the provider no longer takes says to sign in again.
Tokens refreshTokens(const Provider &provider, const QString &refreshToken, Purpose purpose, QDeadlineTimer deadline,
                     const std::atomic_bool *cancelled = nullptr);

// The access token of an account that signs in with providerId as user: kept
// in memory while valid for another minute, else refreshed from the refresh
// token in the keyring (or PasswordCommand); a refresh token the provider
// replaced goes back to the keyring. Never opens a browser. Throws HostError.
QString accessToken(const StorePaths &paths, const QString &providerId, const QString &user,
                    const QString &passwordCommand, bool inMemory, Purpose purpose);
// What an account logs in with: its password, or for an account that signs
// in, the access token. Throws HostError saying why there is none.
QString loginSecret(const StorePaths &paths, const SmtpSettings &account);
QString loginSecret(const StorePaths &paths, const CardDavSettings &account);

// Keeps what a sign-in gave: the refresh token in the keyring, the access
// token in memory; with inMemory, the refresh token too, until logout.
// Throws HostError when the keyring cannot keep it.
void keepTokens(const QString &providerId, const QString &user, const Tokens &tokens, bool inMemory = false);
// Forgets an access token the server refused, so the next use refreshes.
void forgetAccessToken(const QString &providerId, const QString &user);

} // namespace hostmail::signin
