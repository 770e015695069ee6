#include "hostmail/HostError.h"
#include "hostmail/signin/Providers.h"
#include "hostmail/signin/SignIn.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrlQuery>

#include <gtest/gtest.h>

using namespace hostmail::signin;

namespace {

QString idFor(const QList<Provider> &providers, const QString &address)
{
    const Provider *p = providerForAddress(providers, address);
    return p ? p->id : QString();
}

QString idForMx(const QList<Provider> &providers, const QStringList &hosts)
{
    const Provider *p = providerForMx(providers, hosts);
    return p ? p->id : QString();
}

} // namespace

TEST(Providers, ShippedPresetsAreWholeAndSignInOnlyOverHttps)
{
    const QList<Provider> providers = parseProviders(builtInProviders(), "built in");
    QStringList ids;
    for (const Provider &p : providers) {
        ids.append(p.id);
        EXPECT_FALSE(p.smtp.host.isEmpty()) << p.id.toStdString();
        EXPECT_TRUE(p.contactsUrl.startsWith("https://")) << p.id.toStdString();
        if (p.signIn.needed()) {
            EXPECT_TRUE(p.signIn.authorizeUrl.startsWith("https://")) << p.id.toStdString();
            EXPECT_TRUE(p.signIn.tokenUrl.startsWith("https://")) << p.id.toStdString();
            EXPECT_FALSE(p.signIn.mailScopes.isEmpty()) << p.id.toStdString();
        }
    }
    for (const char *id :
         {"google", "microsoft", "microsoft365", "icloud", "yahoo", "fastmail", "gmx", "webde", "mailboxorg", "posteo"})
        EXPECT_TRUE(ids.contains(id)) << id;
}

TEST(Providers, AnAddressOrItsMailServersNameTheProvider)
{
    const QList<Provider> providers = parseProviders(builtInProviders(), "built in");
    EXPECT_EQ(idFor(providers, "anna@gmail.com"), "google");
    EXPECT_EQ(idFor(providers, "Anna <ANNA@Outlook.COM>").isEmpty(), true); // a header, not an address
    EXPECT_EQ(idFor(providers, "ANNA@Outlook.COM"), "microsoft");
    EXPECT_EQ(idFor(providers, "anna@mail.gmail.com"), "");
    EXPECT_EQ(idFor(providers, "gmail.com"), "");
    EXPECT_EQ(idForMx(providers, {"aspmx.l.google.com."}), "google");
    EXPECT_EQ(idForMx(providers, {"contoso-com.mail.protection.outlook.com"}), "microsoft365");
    EXPECT_EQ(idForMx(providers, {"outlook-com.olc.protection.outlook.com"}), "microsoft");
    EXPECT_EQ(idForMx(providers, {"mx.evilgoogle.com", "google.com.evil.example"}), "");
}

TEST(Providers, ClientIdsComeFromHostConfThenTheBuildAndAreShared)
{
    const QByteArray json = R"({"version": 1, "providers": [
        {"id": "one", "signIn": {"authorize": "https://a.example/auth", "token": "https://a.example/token",
                                  "clientId": "from-file"}},
        {"id": "two", "signIn": {"authorize": "https://a.example/auth", "token": "https://a.example/token",
                                  "clientIdOf": "one"}}]})";
    QTemporaryDir dir;
    QFile file(dir.filePath("providers.json"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(json);
    file.close();
    hostmail::SignInSettings settings;
    settings.providersFile = file.fileName();
    QList<Provider> providers = loadProviders(settings);
    EXPECT_EQ(providerById(providers, "one")->signIn.clientId, "from-file");
    EXPECT_EQ(providerById(providers, "two")->signIn.clientId, "from-file");
    settings.clientIds.insert("one", "mine");
    providers = loadProviders(settings);
    EXPECT_EQ(providerById(providers, "one")->signIn.clientId, "mine");
    EXPECT_EQ(providerById(providers, "two")->signIn.clientId, "mine");

    EXPECT_THROW(parseProviders(R"({"version": 2, "providers": []})", "x"), hostmail::HostError);
    EXPECT_THROW(parseProviders("not json", "x"), hostmail::HostError);
}

TEST(SignInRequest, CarriesTheChallengeOfItsVerifierAndEveryScope)
{
    const Pkce a = Pkce::make(), b = Pkce::make();
    EXPECT_NE(a.verifier, b.verifier);
    EXPECT_TRUE(QRegularExpression("^[A-Za-z0-9._~-]{43,128}$").match(QString::fromLatin1(a.verifier)).hasMatch());
    EXPECT_EQ(a.challenge, QCryptographicHash::hash(a.verifier, QCryptographicHash::Sha256)
                               .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    Provider p;
    p.signIn.authorizeUrl = "https://accounts.example/auth?hd=example.org";
    p.signIn.clientId = "id+1";
    p.signIn.mailScopes = {"https://mail.example/", "offline_access"};
    p.signIn.contactsScopes = {"contacts", "offline_access"};
    const QUrl url = authorizationUrl(p, "http://127.0.0.1:4242/", "st", a, "anna+x@example.org");
    const QUrlQuery q(url);
    EXPECT_EQ(q.queryItemValue("hd"), "example.org");
    EXPECT_EQ(q.queryItemValue("client_id", QUrl::FullyDecoded), "id+1");
    EXPECT_EQ(q.queryItemValue("scope", QUrl::FullyDecoded), "https://mail.example/ offline_access contacts");
    EXPECT_EQ(q.queryItemValue("redirect_uri", QUrl::FullyDecoded), "http://127.0.0.1:4242/");
    EXPECT_EQ(q.queryItemValue("login_hint", QUrl::FullyDecoded), "anna+x@example.org");
    EXPECT_EQ(q.queryItemValue("code_challenge").toLatin1(), a.challenge);
    EXPECT_EQ(q.queryItemValue("code_challenge_method"), "S256");
    EXPECT_FALSE(url.toString(QUrl::FullyEncoded).contains(QString::fromLatin1(a.verifier)));
}
