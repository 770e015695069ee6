#include "hostmail/signin/Discovery.h"

#include "support/StandIn.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace hostmail::signin;
using Security = hostmail::SmtpSettings::Security;

namespace {

// Where the test's name server listens: port 53, as a resolver expects,
// on an address of its own.
const char *const kResolver = "127.0.0.153";

const char *const kZone = R"(
_submissions._tcp.selfhosted.test. 300 IN SRV 10 1 465 mail.selfhosted.test.
_submissions._tcp.selfhosted.test. 300 IN SRV 5 1 465 first.selfhosted.test.
_carddavs._tcp.selfhosted.test. 300 IN SRV 0 1 8443 dav.selfhosted.test.
_carddavs._tcp.selfhosted.test. 300 IN TXT "path=/dav/principals/"
_submission._tcp.starttls.test. 300 IN SRV 0 1 587 smtp.starttls.test.
_submissions._tcp.none.test. 300 IN SRV 0 0 0 .
_submission._tcp.none.test. 300 IN SRV 0 1 587 bad_host!.none.test.
gmailhosted.test. 300 IN MX 10 ASPMX.L.GOOGLE.COM.
tenant.test. 300 IN MX 0 tenant-test.mail.protection.outlook.com.
autoconf.test. 300 IN MX 0 mx.autoconf.test.
)";

const char *const kAutoconfig = R"(<?xml version="1.0"?>
<clientConfig version="1.1">
  <emailProvider id="autoconf.test">
    <domain>autoconf.test</domain>
    <displayName>Autoconf Mail</displayName>
    <outgoingServer type="smtp">
      <hostname>plain.autoconf.test</hostname><port>25</port><socketType>plain</socketType>
    </outgoingServer>
    <outgoingServer type="smtp">
      <hostname>smtp.%EMAILDOMAIN%</hostname><port>587</port><socketType>STARTTLS</socketType>
      <authentication>password-cleartext</authentication><username>%EMAILLOCALPART%</username>
    </outgoingServer>
  </emailProvider>
  <addressBook type="carddav"><serverURL>https://dav.autoconf.test/%EMAILADDRESS%/</serverURL></addressBook>
</clientConfig>
)";

void write(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

class Discovery : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(makeCertificate(m_dir.path()));
        write(m_dir.filePath("zone"), kZone);
        write(m_dir.filePath("www/autoconfig.autoconf.test/mail/config-v1.1.xml"), kAutoconfig);
        QByteArray second = kAutoconfig;
        second.replace("Autoconf Mail", "Well-known Mail");
        write(m_dir.filePath("www/wellknown.test/.well-known/autoconfig/mail/config-v1.1.xml"), second);
        QByteArray hostile = kAutoconfig;
        hostile.replace("smtp.%EMAILDOMAIN%", "evil host/../x");
        hostile.replace("https://dav.autoconf.test", "http://dav.autoconf.test");
        write(m_dir.filePath("www/autoconfig.hostile.test/mail/config-v1.1.xml"), hostile);
        m_dns = std::make_unique<StandIn>("dns_server.py", QStringList{kResolver, m_dir.filePath("zone")});
        m_www =
            std::make_unique<StandIn>("https_files.py", QStringList{m_dir.filePath("www"), m_dir.filePath("cert.pem"),
                                                                    m_dir.filePath("key.pem")});
        if (m_dns->line() != "ready")
            GTEST_SKIP() << "no name server on " << kResolver << ":53 (it needs the right to bind port 53)";
        ASSERT_GT(m_www->port(), 0);
        m_options.resolver = kResolver;
        m_options.autoconfigBase = QStringLiteral("https://127.0.0.1:%1").arg(m_www->port());
        m_options.caFile = m_dir.filePath("cert.pem");
        m_providers = parseProviders(builtInProviders(), "built in");
    }

    Discovered find(const QString &address) { return discoverAccount(address, m_providers, m_options); }

    QTemporaryDir m_dir;
    std::unique_ptr<StandIn> m_dns, m_www;
    DiscoveryOptions m_options;
    QList<Provider> m_providers;
};

} // namespace

TEST_F(Discovery, APresetAnsweredFirstAndNamesItsSignIn)
{
    const Discovered d = find("Anna@GMail.com");
    EXPECT_EQ(d.providerId, "google");
    EXPECT_EQ(d.signIn, "google");
    EXPECT_EQ(d.smtp.host, "smtp.gmail.com");
    EXPECT_EQ(d.smtp.security, Security::Tls);
    EXPECT_EQ(d.smtp.user, "Anna@GMail.com");
    EXPECT_EQ(d.contactsKind, "carddav");
    EXPECT_EQ(d.sources.first(), "the mail server from the presets of Google");
}

TEST_F(Discovery, AnAutoconfigDocumentAtEitherPlaceGivesItsEncryptedServerAndAddressBook)
{
    Discovered d = find("anna@autoconf.test");
    EXPECT_EQ(d.smtp.host, "smtp.autoconf.test");
    EXPECT_EQ(d.smtp.port, 587);
    EXPECT_EQ(d.smtp.security, Security::StartTls);
    EXPECT_EQ(d.smtp.user, "anna");
    EXPECT_EQ(d.contactsUrl, "https://dav.autoconf.test/anna@autoconf.test/");
    EXPECT_EQ(d.providerName, "Autoconf Mail");
    EXPECT_TRUE(d.signIn.isEmpty());
    EXPECT_EQ(d.sources.first(), "the mail server from the autoconfig document at 127.0.0.1");

    d = find("ben@wellknown.test");
    EXPECT_EQ(d.smtp.host, "smtp.wellknown.test");
    EXPECT_EQ(d.providerName, "Well-known Mail");

    // A host name that is no host name, and an address book over http, are not taken.
    d = find("eve@hostile.test");
    EXPECT_TRUE(d.smtp.host.isEmpty());
    EXPECT_TRUE(d.contactsUrl.isEmpty());
}

TEST_F(Discovery, SrvRecordsGiveTheBestServerAndTheAddressBookPath)
{
    Discovered d = find("anna@selfhosted.test");
    EXPECT_EQ(d.smtp.host, "first.selfhosted.test");
    EXPECT_EQ(d.smtp.port, 465);
    EXPECT_EQ(d.smtp.security, Security::Tls);
    EXPECT_EQ(d.contactsUrl, "https://dav.selfhosted.test:8443/dav/principals/");
    EXPECT_EQ(d.sources, QStringList({"the mail server from the SRV records of selfhosted.test",
                                      "the address book from the SRV records of selfhosted.test"}));

    d = find("anna@starttls.test");
    EXPECT_EQ(d.smtp.host, "smtp.starttls.test");
    EXPECT_EQ(d.smtp.security, Security::StartTls);
    EXPECT_TRUE(d.contactsUrl.isEmpty());

    // "." says there is no such service; a target that is no host name is not taken.
    EXPECT_FALSE(find("anna@none.test").found());
    EXPECT_FALSE(find("anna@nowhere.test").found());
}

TEST_F(Discovery, MxHostsNameTheProviderThatHostsTheDomain)
{
    Discovered d = find("anna@gmailhosted.test");
    EXPECT_EQ(d.providerId, "google");
    EXPECT_EQ(d.signIn, "google");
    EXPECT_EQ(d.smtp.host, "smtp.gmail.com");
    EXPECT_EQ(d.smtp.user, "anna@gmailhosted.test");

    d = find("anna@tenant.test");
    EXPECT_EQ(d.providerId, "microsoft365");
    EXPECT_EQ(d.contactsKind, "graph");

    // Autoconfig gave both parts: the MX is not asked to replace them.
    d = find("anna@autoconf.test");
    EXPECT_EQ(d.smtp.host, "smtp.autoconf.test");
}

TEST(DiscoveryRules, HostNamesFromServersAreCheckedAndOAuthServersNameTheirSignIn)
{
    EXPECT_TRUE(isHostName("smtp.example.org"));
    EXPECT_TRUE(isHostName("127.0.0.1"));
    for (const char *bad : {"", "a b", "x/../y", "-x.org", "a..b", "x.org:25", "\xc3\xa9.org"})
        EXPECT_FALSE(isHostName(QString::fromUtf8(bad))) << bad;
    const QList<Provider> providers = parseProviders(builtInProviders(), "built in");
    const Discovered d = parseAutoconfig(R"(<clientConfig version="1.1"><emailProvider id="x">
        <outgoingServer type="smtp"><hostname>smtp-mail.outlook.com</hostname><port>587</port>
        <socketType>STARTTLS</socketType><authentication>OAuth2</authentication></outgoingServer>
        </emailProvider></clientConfig>)",
                                         "anna@contoso.test", providers);
    EXPECT_EQ(d.signIn, "microsoft");
    EXPECT_EQ(d.smtp.user, "anna@contoso.test");
    EXPECT_FALSE(parseAutoconfig("<clientConfig><outgoingServer type=\"smtp\">", "a@b.c", providers).found());
}
