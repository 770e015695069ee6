#include "hostmail/signin/SignIn.h"

#include "hostmail/HostError.h"
#include "hostmail/net/Http.h"
#include "hostmail/process/CommandRunner.h"
#include "hostmail/smtp/SmtpSession.h"

#include <QCryptographicHash>
#include <QHash>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrlQuery>

namespace hostmail::signin {

namespace {

constexpr qint64 kMaxTokenReplyBytes = 64 * 1024;
constexpr qint64 kMaxRedirectRequestBytes = 16 * 1024;
constexpr int kSliceMs = 100;       // how often a wait looks at the deadline and the cancel flag
constexpr int kRefreshSeconds = 30; // a refresh, at most
constexpr int kEarlySeconds = 60;   // an access token is refreshed this long before it expires

QByteArray randomText(int length)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~";
    QByteArray out(length, Qt::Uninitialized);
    for (char &c : out)
        c = alphabet[QRandomGenerator::system()->bounded(int(sizeof alphabet - 1))];
    return out;
}

QString formValue(const QString &text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

QByteArray form(const QList<std::pair<QString, QString>> &fields)
{
    QStringList parts;
    for (const auto &[key, value] : fields)
        if (!value.isEmpty())
            parts.append(key + QLatin1Char('=') + formValue(value));
    return parts.join(QLatin1Char('&')).toUtf8();
}

QStringList allScopes(const Provider &provider)
{
    QStringList scopes = provider.signIn.mailScopes;
    for (const QString &s : provider.signIn.contactsScopes)
        if (!scopes.contains(s))
            scopes.append(s);
    return scopes;
}

void checkUsable(const Provider &provider)
{
    if (!provider.signIn.needed())
        throw HostError(QStringLiteral("%1 takes a password, not a sign-in").arg(provider.name));
    if (provider.signIn.clientId.isEmpty())
        throw HostError(QStringLiteral("No client ID is set for signing in with %1: this build has none, and "
                                       "host.conf's [SignIn.%2] group gives none (ClientId=); the README says how "
                                       "to register one")
                            .arg(provider.name, provider.id));
}

// One request to the token endpoint, and what it answered.
Tokens tokenRequest(const Provider &provider, const QByteArray &body, QDeadlineTimer deadline,
                    const std::atomic_bool *cancelled, bool refreshing)
{
    const QUrl url(provider.signIn.tokenUrl);
    net::HttpAccount account;
    account.site = url.host();
    account.what = QStringLiteral("the sign-in");
    net::Http http(account, deadline, cancelled, kMaxTokenReplyBytes);
    const net::Reply r = http.request("POST", url, body,
                                      {"Content-Type: application/x-www-form-urlencoded", "Accept: application/json"});
    if (!r.error.isEmpty())
        throw HostError(QStringLiteral("Cannot reach %1 to sign in: %2").arg(provider.name, r.error));
    const QJsonObject o = QJsonDocument::fromJson(r.body).object();
    const QString error = o.value(QStringLiteral("error")).toString();
    if (r.status != 200 || !error.isEmpty()) {
        const QString said = error.isEmpty() ? QStringLiteral("HTTP %1").arg(r.status) : error;
        // invalid_grant: the refresh token was revoked, expired or replaced.
        if (refreshing && (error == QLatin1String("invalid_grant") || r.status == 400 || r.status == 401))
            throw HostError(QStringLiteral("%1 no longer accepts this computer's sign-in (%2): sign in again in "
                                           "File > Accounts")
                                .arg(provider.name, said));
        throw HostError(QStringLiteral("%1 refused the sign-in (%2)").arg(provider.name, said));
    }
    Tokens t;
    t.access = o.value(QStringLiteral("access_token")).toString();
    t.refresh = o.value(QStringLiteral("refresh_token")).toString();
    const int seconds = o.value(QStringLiteral("expires_in")).toVariant().toInt();
    t.expires = QDateTime::currentDateTimeUtc().addSecs(seconds > 0 ? seconds : 3600);
    if (t.access.isEmpty() || t.access.size() > 16384 || t.refresh.size() > 4000)
        throw HostError(QStringLiteral("%1 answered the sign-in without a usable token").arg(provider.name));
    return t;
}

// The loopback end of the redirect: one listening socket on 127.0.0.1 that
// waits for the browser to come back with the code.
class Loopback {
public:
    Loopback()
    {
        if (!m_server.listen(QHostAddress(QHostAddress::LocalHost), 0))
            throw HostError(QStringLiteral("Cannot listen on 127.0.0.1 for the browser to come back: %1")
                                .arg(m_server.errorString()));
    }
    // The browser reaches 127.0.0.1 by either name; the provider matches the
    // one its registration has.
    QString redirectUri(const QString &host) const
    {
        return QStringLiteral("http://%1:%2/").arg(host).arg(m_server.serverPort());
    }

    // The query of the first request that carries state; any other request
    // gets an answer and is not counted.
    QUrlQuery wait(const QByteArray &state, QDeadlineTimer deadline, const std::atomic_bool *cancelled)
    {
        for (;;) {
            if (cancelled && cancelled->load())
                throw HostError(QStringLiteral("The sign-in was cancelled"));
            if (deadline.hasExpired())
                throw HostError(QStringLiteral("The sign-in did not finish in the browser in time"));
            if (!m_server.hasPendingConnections() && !m_server.waitForNewConnection(kSliceMs))
                continue;
            std::unique_ptr<QTcpSocket> socket(m_server.nextPendingConnection());
            if (!socket)
                continue;
            const QByteArray request = readRequestHead(*socket, deadline, cancelled);
            const QList<QByteArray> words = request.left(request.indexOf('\r')).split(' ');
            const QUrl target(QString::fromLatin1(words.value(1)));
            const QUrlQuery query(target.query(QUrl::FullyEncoded));
            if (words.value(0) != "GET" || target.path() != QLatin1String("/") ||
                query.queryItemValue(QStringLiteral("state")).toLatin1() != state) {
                answer(*socket, "404 Not Found", QStringLiteral("Not the page of this sign-in."));
                continue;
            }
            if (query.hasQueryItem(QStringLiteral("code")))
                answer(*socket, "200 OK",
                       QStringLiteral("You are signed in. You may close this page and return to Cheerpost."));
            else
                answer(*socket, "200 OK", QStringLiteral("The sign-in did not complete. Return to Cheerpost."));
            return query;
        }
    }

private:
    static QByteArray readRequestHead(QTcpSocket &socket, QDeadlineTimer deadline, const std::atomic_bool *cancelled)
    {
        QByteArray head;
        while (!head.contains("\r\n\r\n") && head.size() < kMaxRedirectRequestBytes && !deadline.hasExpired() &&
               !(cancelled && cancelled->load())) {
            if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(kSliceMs)) {
                if (socket.state() != QAbstractSocket::ConnectedState)
                    break;
                continue;
            }
            head += socket.read(kMaxRedirectRequestBytes - head.size());
        }
        return head;
    }
    static void answer(QTcpSocket &socket, const char *status, const QString &text)
    {
        const QByteArray body = QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Cheerpost"
                                               "</title></head><body><p>%1</p></body></html>")
                                    .arg(text.toHtmlEscaped())
                                    .toUtf8();
        socket.write(QByteArray("HTTP/1.1 ") + status +
                     "\r\nContent-Type: text/html; charset=utf-8\r\nConnection: close\r\nContent-Length: " +
                     QByteArray::number(body.size()) + "\r\n\r\n" + body);
        socket.flush();
        socket.waitForBytesWritten(1000);
        socket.disconnectFromHost();
    }

    QTcpServer m_server;
};

void openBrowser(const QString &command, const QUrl &url)
{
    QStringList argv = QProcess::splitCommand(command.trimmed().isEmpty() ? QStringLiteral("xdg-open") : command);
    const QString program = argv.takeFirst();
    argv.append(url.toString(QUrl::FullyEncoded));
    QString why;
    if (!startDetached(QStringList{program} + argv, &why))
        throw HostError(QStringLiteral("Cannot open the browser (%1) for the sign-in: %2").arg(program, why));
}

struct Cache {
    QMutex mutex;
    QHash<QString, Tokens> tokens; // per provider, user and purpose
};

Cache &cache()
{
    static Cache c;
    return c;
}

QString cacheKey(const QString &providerId, const QString &user, Purpose purpose)
{
    return providerId + QLatin1Char('\n') + user.toLower() + QLatin1Char('\n') +
           QLatin1Char(purpose == Purpose::Mail ? 'm' : 'c');
}

smtp::AccountSecret secretOf(const QString &providerId, const QString &user, const QString &passwordCommand,
                             bool inMemory)
{
    SmtpSettings s;
    s.signIn = providerId;
    s.user = user;
    return {QStringLiteral("sign-in"), user, passwordCommand, s.keyringAccount(), {}, inMemory};
}

} // namespace

Pkce Pkce::make()
{
    Pkce p;
    p.verifier = randomText(64);
    p.challenge = QCryptographicHash::hash(p.verifier, QCryptographicHash::Sha256)
                      .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    return p;
}

QUrl authorizationUrl(const Provider &provider, const QString &redirectUri, const QByteArray &state, const Pkce &pkce,
                      const QString &loginHint)
{
    QUrl url(provider.signIn.authorizeUrl);
    QUrlQuery query(url);
    query.addQueryItem(QStringLiteral("response_type"), QStringLiteral("code"));
    query.addQueryItem(QStringLiteral("client_id"), formValue(provider.signIn.clientId));
    query.addQueryItem(QStringLiteral("redirect_uri"), formValue(redirectUri));
    query.addQueryItem(QStringLiteral("scope"), formValue(allScopes(provider).join(QLatin1Char(' '))));
    query.addQueryItem(QStringLiteral("state"), QString::fromLatin1(state));
    query.addQueryItem(QStringLiteral("code_challenge"), QString::fromLatin1(pkce.challenge));
    query.addQueryItem(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
    // A refresh token, and the consent page again where it was given before
    // without one.
    query.addQueryItem(QStringLiteral("access_type"), QStringLiteral("offline"));
    query.addQueryItem(QStringLiteral("prompt"), QStringLiteral("consent"));
    if (!loginHint.isEmpty())
        query.addQueryItem(QStringLiteral("login_hint"), formValue(loginHint));
    url.setQuery(query);
    return url;
}

Tokens signIn(const Provider &provider, const QString &loginHint, const QString &browserCommand,
              QDeadlineTimer deadline, const std::atomic_bool *cancelled)
{
    checkUsable(provider);
    if (!net::secureEnough(QUrl(provider.signIn.authorizeUrl)) || !net::secureEnough(QUrl(provider.signIn.tokenUrl)))
        throw HostError(QStringLiteral("The sign-in addresses of %1 are not https").arg(provider.name));
    Loopback loopback;
    const Pkce pkce = Pkce::make();
    const QByteArray state = randomText(32);
    openBrowser(browserCommand,
                authorizationUrl(provider, loopback.redirectUri(provider.signIn.redirectHost), state, pkce, loginHint));
    const QUrlQuery back = loopback.wait(state, deadline, cancelled);
    const QString code = back.queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded);
    if (code.isEmpty()) {
        const QString error = back.queryItemValue(QStringLiteral("error"), QUrl::FullyDecoded);
        throw HostError(QStringLiteral("The sign-in with %1 was not given (%2)")
                            .arg(provider.name, error.isEmpty() ? QStringLiteral("no code") : error.left(200)));
    }
    Tokens t = tokenRequest(provider,
                            form({{QStringLiteral("grant_type"), QStringLiteral("authorization_code")},
                                  {QStringLiteral("code"), code},
                                  {QStringLiteral("redirect_uri"), loopback.redirectUri(provider.signIn.redirectHost)},
                                  {QStringLiteral("client_id"), provider.signIn.clientId},
                                  {QStringLiteral("client_secret"), provider.signIn.clientSecret},
                                  {QStringLiteral("code_verifier"), QString::fromLatin1(pkce.verifier)}}),
                            deadline, cancelled, false);
    if (t.refresh.isEmpty())
        throw HostError(QStringLiteral("%1 signed in without a refresh token, so mail could not be sent later "
                                       "without the browser")
                            .arg(provider.name));
    return t;
}

Tokens refreshTokens(const Provider &provider, const QString &refreshToken, Purpose purpose, QDeadlineTimer deadline,
                     const std::atomic_bool *cancelled)
{
    checkUsable(provider);
    if (refreshToken.trimmed().isEmpty())
        throw HostError(QStringLiteral("Not signed in with %1: sign in in File > Accounts").arg(provider.name));
    const QStringList scopes = purpose == Purpose::Mail ? provider.signIn.mailScopes : provider.signIn.contactsScopes;
    return tokenRequest(provider,
                        form({{QStringLiteral("grant_type"), QStringLiteral("refresh_token")},
                              {QStringLiteral("refresh_token"), refreshToken.trimmed()},
                              {QStringLiteral("client_id"), provider.signIn.clientId},
                              {QStringLiteral("client_secret"), provider.signIn.clientSecret},
                              {QStringLiteral("scope"), scopes.join(QLatin1Char(' '))}}),
                        deadline, cancelled, true);
}

QString accessToken(const StorePaths &paths, const QString &providerId, const QString &user,
                    const QString &passwordCommand, bool inMemory, Purpose purpose)
{
    const QString key = cacheKey(providerId, user, purpose);
    {
        QMutexLocker lock(&cache().mutex);
        const Tokens t = cache().tokens.value(key);
        if (!t.access.isEmpty() && QDateTime::currentDateTimeUtc().secsTo(t.expires) > kEarlySeconds)
            return t.access;
    }
    const QList<Provider> providers = loadProviders(paths.signIn);
    const Provider *provider = providerById(providers, providerId);
    if (!provider)
        throw HostError(
            QStringLiteral("The account signs in with \"%1\", which the provider presets do not know").arg(providerId));
    const smtp::AccountSecret secret = secretOf(providerId, user, passwordCommand, inMemory);
    const QString refresh = smtp::accountPassword(secret);
    const Tokens t = refreshTokens(*provider, refresh, purpose, QDeadlineTimer(kRefreshSeconds * 1000));
    // A provider that rotates refresh tokens invalidates the old one.
    if (!t.refresh.isEmpty() && t.refresh != refresh.trimmed() && passwordCommand.trimmed().isEmpty())
        smtp::storeAccountPassword(secret, t.refresh);
    QMutexLocker lock(&cache().mutex);
    cache().tokens.insert(key, t);
    return t.access;
}

QString loginSecret(const StorePaths &paths, const SmtpSettings &account)
{
    if (account.signIn.isEmpty())
        return smtp::accountPassword(account);
    return accessToken(paths, account.signIn, account.user, account.passwordCommand, account.passwordInMemory,
                       Purpose::Mail);
}

QString loginSecret(const StorePaths &paths, const CardDavSettings &account)
{
    if (account.signIn.isEmpty())
        return smtp::accountPassword(account);
    return accessToken(paths, account.signIn, account.user, account.passwordCommand, account.passwordInMemory,
                       Purpose::Contacts);
}

void keepTokens(const QString &providerId, const QString &user, const Tokens &tokens, bool inMemory)
{
    smtp::storeAccountPassword(secretOf(providerId, user, {}, inMemory), tokens.refresh);
    QMutexLocker lock(&cache().mutex);
    for (Purpose p : {Purpose::Mail, Purpose::Contacts})
        cache().tokens.remove(cacheKey(providerId, user, p));
}

void forgetAccessToken(const QString &providerId, const QString &user)
{
    QMutexLocker lock(&cache().mutex);
    for (Purpose p : {Purpose::Mail, Purpose::Contacts})
        cache().tokens.remove(cacheKey(providerId, user, p));
}

} // namespace hostmail::signin
