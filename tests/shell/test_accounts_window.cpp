// The Accounts window as a new user meets it: name, e-mail address and
// password (or a sign-in in the browser), and the rest found. Against local
// stand-ins: a name server, Authlib's OAuth 2.0 server with a scripted
// browser, an SMTP server that takes tokens only, and Radicale behind a
// Bearer check. The desktop keyring is a stand-in secret-tool on PATH.
#include "support/Eventually.h"
#include "support/MainWindowFixture.h"
#include "support/Radicale.h"
#include "support/StandIn.h"

#include "hostmail/smtp/MemoryKeyring.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {

// secret-tool's store and lookup, kept in files of folder, one an account.
void installKeyring(const QString &folder)
{
    const QString script = folder + "/secret-tool";
    QFile f(script);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(("#!/bin/sh\ncmd=$1; shift; [ \"$cmd\" = store ] && shift\nfor last; do :; done\n"
             "file=\"" +
             folder +
             "/entry-$(printf %s \"$last\" | od -An -tx1 | tr -d ' \\n')\"\n"
             "case $cmd in store) cat > \"$file\";; lookup) cat \"$file\" 2>/dev/null || exit 1;; *) exit 1;; esac\n")
                .toUtf8());
    f.close();
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("PATH", (folder + ":" + qEnvironmentVariable("PATH")).toUtf8());
}

QString keyringEntry(const QString &folder, const QString &account)
{
    QFile f(folder + "/entry-" + QString::fromLatin1(account.toUtf8().toHex()));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

class AccountsWindow : public MainWindowFixture {
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        m_path = qgetenv("PATH");
        installKeyring(keyring.path());
    }
    void TearDown() override
    {
        qputenv("PATH", m_path);
        QFile::remove(hostmail::StorePaths::configurationFile());
        MainWindowFixture::TearDown();
    }
    template <typename T> T *in(shell::frmAccounts *w, const char *name) { return w->findChild<T *>(name); }
    void typeYou(shell::frmAccounts *w, const QString &address, const QString &password = {})
    {
        in<QLineEdit>(w, "txtName")->setText("Anna Berg");
        in<QLineEdit>(w, "txtAddress")->setText(address);
        in<QLineEdit>(w, "txtPassword")->setText(password);
        QTest::mouseClick(in<QPushButton>(w, "btnFindSettings"), Qt::LeftButton);
    }

    // The window on presets that name the stand-ins, with the scripted browser.
    shell::frmAccounts *openWithPresets(const QJsonObject &provider, const QString &client)
    {
        QFile presets(work.filePath("providers.json"));
        EXPECT_TRUE(presets.open(QIODevice::WriteOnly));
        presets.write(QJsonDocument(QJsonObject{{"version", 1}, {"providers", QJsonArray{provider}}}).toJson());
        presets.close();
        return openAccounts(("[SignIn]\nProviders=" + presets.fileName() +
                             "\nBrowser=/usr/bin/python3 " SOURCE_DIR "/tests/support/scripted_browser.py\n[SignIn." +
                             provider.value("id").toString() + "]\nClientId=" + client + "\n")
                                .toUtf8());
    }
    static QJsonObject signInAt(const QString &issuer)
    {
        return QJsonObject{{"authorize", issuer + "/authorize"},
                           {"token", issuer + "/token"},
                           {"mailScopes", QJsonArray{"mail"}},
                           {"contactsScopes", QJsonArray{"contacts"}}};
    }
    // Finds the settings, signs in through the browser and saves.
    void signInAndSave(shell::frmAccounts *w, const QString &address, const QString &provider)
    {
        typeYou(w, address);
        auto *found = in<QLabel>(w, "lblFound");
        ASSERT_TRUE(eventually([&] { return !found->text().isEmpty(); }, 20000));
        EXPECT_TRUE(found->text().endsWith(provider + " takes no password here: sign in in the browser."))
            << found->text().toStdString();
        auto *signIn = in<QPushButton>(w, "btnSignIn");
        EXPECT_TRUE(signIn->isVisible());
        EXPECT_FALSE(in<QLineEdit>(w, "txtSmtpPassword")->isEnabled());
        EXPECT_FALSE(in<QLineEdit>(w, "txtPassword")->isEnabled());
        QTest::mouseClick(signIn, Qt::LeftButton);
        ASSERT_TRUE(eventually([&] { return signIn->isEnabled(); }, 60000));
        auto *result = in<QLabel>(w, "lblSmtpResult");
        ASSERT_EQ(result->text(), "Signed in as " + address + ".");
        QTest::mouseClick(in<QPushButton>(w, "btnSaveAccounts"), Qt::LeftButton);
        EXPECT_EQ(result->text(), "The account is saved.");
    }
    // Sends the test message and tests the address book: what each said.
    std::pair<QString, QString> tryBoth(shell::frmAccounts *w)
    {
        auto *result = in<QLabel>(w, "lblSmtpResult");
        QTest::mouseClick(in<QPushButton>(w, "btnSendTest"), Qt::LeftButton);
        EXPECT_TRUE(eventually([&] { return in<QPushButton>(w, "btnSendTest")->isEnabled(); }, 30000));
        const QString mail = result->text();
        QTest::mouseClick(in<QPushButton>(w, "btnTestDav"), Qt::LeftButton);
        EXPECT_TRUE(eventually([&] { return in<QPushButton>(w, "btnTestDav")->isEnabled(); }, 30000));
        return {mail, result->text()};
    }

    // Sends the test message to a server whose own certificate does not
    // verify: the first try offers Trust, and after it the message goes.
    void trustAndSendTest(shell::frmAccounts *w)
    {
        auto *result = in<QLabel>(w, "lblSmtpResult");
        auto *send = in<QPushButton>(w, "btnSendTest");
        QTest::mouseClick(send, Qt::LeftButton);
        ASSERT_TRUE(eventually([&] { return send->isEnabled(); }, 30000));
        ASSERT_TRUE(in<QPushButton>(w, "btnTrustSmtp")->isVisible()) << result->text().toStdString();
        QTest::mouseClick(in<QPushButton>(w, "btnTrustSmtp"), Qt::LeftButton);
        ASSERT_TRUE(eventually([&] { return send->isEnabled(); }, 30000));
        QTest::mouseClick(send, Qt::LeftButton);
        ASSERT_TRUE(eventually([&] { return send->isEnabled(); }, 30000));
    }

    QTemporaryDir keyring;
    QTemporaryDir work;

private:
    QByteArray m_path;
};

} // namespace

TEST_F(AccountsWindow, ASelfHostedDomainIsFoundFromItsSrvRecordsAndSavedWithOnePassword)
{
    QFile zone(work.filePath("zone"));
    ASSERT_TRUE(zone.open(QIODevice::WriteOnly));
    zone.write("_submissions._tcp.berg.test. 60 IN SRV 0 1 465 mail.berg.test.\n"
               "_carddavs._tcp.berg.test. 60 IN SRV 0 1 443 dav.berg.test.\n"
               "_carddavs._tcp.berg.test. 60 IN TXT \"path=/remote.php/dav/\"\n");
    zone.close();
    StandIn dns("dns_server.py", {"127.0.0.153", zone.fileName()});
    if (dns.line() != "ready")
        GTEST_SKIP() << "no name server on 127.0.0.153:53 (it needs the right to bind port 53)";
    auto *w = openAccounts("[SignIn]\nResolver=127.0.0.153\nAutoconfigBase=https://127.0.0.1:1\n");
    ASSERT_TRUE(w);
    EXPECT_FALSE(in<QWidget>(w, "fraMailAccount")->isVisible()); // a new user sees name, address and password
    typeYou(w, "anna@berg.test", "one-secret");
    auto *found = in<QLabel>(w, "lblFound");
    ASSERT_TRUE(eventually([&] { return !found->text().isEmpty(); }, 20000));
    EXPECT_EQ(found->text(), "Found the mail server from the SRV records of berg.test; the address book from the "
                             "SRV records of berg.test.");
    EXPECT_EQ(in<QLineEdit>(w, "txtSmtpHost")->text(), "mail.berg.test");
    EXPECT_EQ(in<QSpinBox>(w, "spnSmtpPort")->value(), 465);
    EXPECT_EQ(in<QComboBox>(w, "cboSmtpSecurity")->currentIndex(), 1);
    EXPECT_EQ(in<QLineEdit>(w, "txtSmtpUser")->text(), "anna@berg.test");
    EXPECT_EQ(in<QLineEdit>(w, "txtDavUrl")->text(), "https://dav.berg.test/remote.php/dav/");
    EXPECT_FALSE(in<QPushButton>(w, "btnSignIn")->isVisible());

    QTest::mouseClick(in<QPushButton>(w, "btnSaveAccounts"), Qt::LeftButton);
    EXPECT_EQ(in<QLabel>(w, "lblSmtpResult")->text(), "The account is saved.");
    const QSettings saved(hostmail::StorePaths::configurationFile(), QSettings::IniFormat);
    EXPECT_EQ(saved.value("From").toString(), "Anna Berg <anna@berg.test>");
    EXPECT_EQ(saved.value("Smtp/Host").toString(), "mail.berg.test");
    EXPECT_EQ(saved.value("AddressBook/Url").toString(), "https://dav.berg.test/remote.php/dav/");
    EXPECT_FALSE(saved.contains("Smtp/SignIn"));
    EXPECT_EQ(keyringEntry(keyring.path(), "smtp:anna@berg.test@mail.berg.test"), "one-secret");
    EXPECT_EQ(keyringEntry(keyring.path(), "carddav:anna@berg.test@https://dav.berg.test/remote.php/dav/"),
              "one-secret");
    EXPECT_FALSE(store.read(hostmail::StorePaths::configurationFile()).contains("one-secret"));
    w->close();
}

TEST_F(AccountsWindow, AGoogleUserSignsInInTheBrowserAndBothAccountsWorkByToken)
{
    const QString client = "cheerpost-window-test";
    StandIn oauth("oauth_server.py", {client});
    ASSERT_GT(oauth.port(), 0);
    const QString issuer = QStringLiteral("http://127.0.0.1:%1").arg(oauth.port());
    const QString address = "anna@gmail.test";
    StandIn smtp("smtp_server.py",
                 {work.filePath("received"), "plain", "--user", address, "--bearer-check", issuer + "/check"});
    ASSERT_GT(smtp.port(), 0);
    // Radicale trusting the user its Bearer-checking front names.
    const Radicale radicale(work.filePath("collections"), {"--auth-type=http_x_remote_user"});
    ASSERT_TRUE(radicale.ready());
    const QString backend = QStringLiteral("http://127.0.0.1:%1").arg(radicale.port());
    StandIn front("bearer_proxy.py", {issuer + "/check", backend});
    ASSERT_GT(front.port(), 0);
    QDir().mkpath(work.filePath("collections/collection-root/" + address + "/contacts"));
    QFile props(work.filePath("collections/collection-root/" + address + "/contacts/.Radicale.props"));
    ASSERT_TRUE(props.open(QIODevice::WriteOnly));
    props.write(R"({"tag": "VADDRESSBOOK", "D:displayname": "contacts"})");
    props.close();

    const QJsonObject provider{
        {"id", "google"},
        {"name", "Google"},
        {"domains", QJsonArray{"gmail.test"}},
        {"smtp", QJsonObject{{"host", "127.0.0.1"}, {"port", smtp.port()}, {"security", "none"}}},
        {"contacts",
         QJsonObject{{"kind", "carddav"}, {"url", QStringLiteral("http://127.0.0.1:%1/").arg(front.port())}}},
        {"signIn", signInAt(issuer)}};
    auto *w = openWithPresets(provider, client);
    ASSERT_TRUE(w);
    signInAndSave(w, address, "Google");
    EXPECT_FALSE(keyringEntry(keyring.path(), "signin:google:anna@gmail.test").isEmpty());
    {
        const QSettings saved(hostmail::StorePaths::configurationFile(), QSettings::IniFormat);
        EXPECT_EQ(saved.value("Smtp/SignIn").toString(), "google");
        EXPECT_EQ(saved.value("AddressBook/SignIn").toString(), "google");
        EXPECT_EQ(saved.value("From").toString(), "Anna Berg <anna@gmail.test>");
    }

    // Both accounts work with the token the sign-in left.
    const auto [mail, book] = tryBoth(w);
    EXPECT_EQ(mail, "A test message went to anna@gmail.test.");
    EXPECT_EQ(QDir(work.filePath("received/new")).entryList(QDir::Files).size(), 1);
    EXPECT_TRUE(book.startsWith("Logged in; the contacts will come from")) << book.toStdString();

    // Memory chosen after the sign-in: the token stays where it was kept, and the accounts still find it.
    in<QCheckBox>(w, "chkPasswordInMemory")->setChecked(true);
    QTest::mouseClick(in<QPushButton>(w, "btnSaveAccounts"), Qt::LeftButton);
    EXPECT_EQ(in<QLabel>(w, "lblSmtpResult")->text(), "The account is saved.");
    const QSettings saved(hostmail::StorePaths::configurationFile(), QSettings::IniFormat);
    EXPECT_FALSE(saved.contains("Smtp/KeepPassword"));
    EXPECT_FALSE(saved.contains("AddressBook/KeepPassword"));
    w->close();
}

TEST_F(AccountsWindow, AMicrosoftUserSignsInAndSendsByXoauth2AndReadsContactsFromGraph)
{
    const QString client = "cheerpost-window-test";
    StandIn oauth("oauth_server.py", {client});
    ASSERT_GT(oauth.port(), 0);
    const QString issuer = QStringLiteral("http://127.0.0.1:%1").arg(oauth.port());
    const QString address = "anna@outlook.test";
    StandIn smtp("smtp_server.py", {work.filePath("received"), "plain", "--user", address, "--bearer-check",
                                    issuer + "/check", "--xoauth2-only"});
    StandIn graph("graph_server.py", {"--check", issuer + "/check"});
    ASSERT_GT(smtp.port(), 0);
    ASSERT_GT(graph.port(), 0);
    const QJsonObject provider{
        {"id", "microsoft"},
        {"name", "Microsoft"},
        {"domains", QJsonArray{"outlook.test"}},
        {"smtp", QJsonObject{{"host", "127.0.0.1"}, {"port", smtp.port()}, {"security", "none"}}},
        {"contacts",
         QJsonObject{{"kind", "graph"}, {"url", QStringLiteral("http://127.0.0.1:%1/v1.0").arg(graph.port())}}},
        {"signIn", signInAt(issuer)}};
    auto *w = openWithPresets(provider, client);
    ASSERT_TRUE(w);
    signInAndSave(w, address, "Microsoft");
    {
        const QSettings saved(hostmail::StorePaths::configurationFile(), QSettings::IniFormat);
        EXPECT_EQ(saved.value("AddressBook/Kind").toString(), "graph");
        EXPECT_EQ(saved.value("AddressBook/SignIn").toString(), "microsoft");
    }
    const auto [mail, book] = tryBoth(w);
    EXPECT_EQ(mail, "A test message went to anna@outlook.test.");
    QFile logins(work.filePath("logins"));
    ASSERT_TRUE(logins.open(QIODevice::ReadOnly));
    EXPECT_EQ(logins.readAll(), "XOAUTH2 ok\n");
    EXPECT_EQ(book, QStringLiteral("Logged in; the contacts will come from http://127.0.0.1:%1/v1.0/me/contacts.")
                        .arg(graph.port()));
    w->close();
}

TEST_F(AccountsWindow, WithoutAKeyringSaveWritesNothingAndAPasswordCommandWorksInstead)
{
    // A keyring tool that cannot reach a keyring, as on a machine without one.
    QFile tool(keyring.filePath("secret-tool"));
    ASSERT_TRUE(tool.open(QIODevice::WriteOnly | QIODevice::Truncate));
    tool.write("#!/bin/sh\necho 'Cannot autolaunch D-Bus without X11 $DISPLAY' >&2\nexit 1\n");
    tool.close();
    auto *w = openAccounts("[General]\nDeliveryTimeout=30\n");
    ASSERT_TRUE(w);
    const QByteArray before = store.read(hostmail::StorePaths::configurationFile());
    in<QCheckBox>(w, "chkManual")->click();
    in<QLineEdit>(w, "txtName")->setText("Anna Berg");
    in<QLineEdit>(w, "txtAddress")->setText("anna@berg.test");
    in<QLineEdit>(w, "txtPassword")->setText("one-secret");
    in<QLineEdit>(w, "txtSmtpHost")->setText("mail.berg.test");
    in<QLineEdit>(w, "txtSmtpUser")->setText("anna");
    QTest::mouseClick(in<QPushButton>(w, "btnSaveAccounts"), Qt::LeftButton);
    auto *result = in<QLabel>(w, "lblSmtpResult");
    EXPECT_TRUE(result->text().startsWith("Nothing was saved: the password could not be kept in the desktop keyring"))
        << result->text().toStdString();
    EXPECT_TRUE(result->text().endsWith("or enter a password command that prints the password, for example from pass "
                                        "or another password manager."));
    EXPECT_EQ(store.read(hostmail::StorePaths::configurationFile()), before);

    in<QLineEdit>(w, "txtPasswordCommand")->setText("pass show mail/anna");
    QTest::mouseClick(in<QPushButton>(w, "btnSaveAccounts"), Qt::LeftButton);
    EXPECT_EQ(result->text(), "The account is saved.");
    const QSettings saved(hostmail::StorePaths::configurationFile(), QSettings::IniFormat);
    EXPECT_EQ(saved.value("Smtp/PasswordCommand").toString(), "pass show mail/anna");
    EXPECT_EQ(saved.value("Smtp/User").toString(), "anna"); // a login that is not an address
    EXPECT_EQ(saved.value("From").toString(), "Anna Berg <anna@berg.test>");
    EXPECT_EQ(saved.value("DeliveryTimeout").toInt(), 30);
    EXPECT_FALSE(store.read(hostmail::StorePaths::configurationFile()).contains("one-secret"));
    w->close();
}

TEST_F(AccountsWindow, TheMailServersOwnCertificateIsTrustedFromTheWindowAndATestIsCancelledAtOnce)
{
    ASSERT_TRUE(makeCertificate(work.path()));
    StandIn smtp("smtp_server.py",
                 {work.filePath("received"), "tls", work.filePath("cert.pem"), work.filePath("key.pem")});
    ASSERT_GT(smtp.port(), 0);
    auto *w = openAccounts("[General]\n");
    ASSERT_TRUE(w);
    in<QCheckBox>(w, "chkManual")->click();
    in<QLineEdit>(w, "txtSmtpHost")->setText("127.0.0.1");
    in<QComboBox>(w, "cboSmtpSecurity")->setCurrentIndex(1);
    in<QSpinBox>(w, "spnSmtpPort")->setValue(smtp.port());
    in<QLineEdit>(w, "txtSmtpUser")->setText("anna@example.org");
    in<QLineEdit>(w, "txtPassword")->setText("secret");
    auto *test = in<QPushButton>(w, "btnTestSmtp");
    auto *trust = in<QPushButton>(w, "btnTrustSmtp");
    auto *result = in<QLabel>(w, "lblSmtpResult");
    QTest::mouseClick(test, Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return test->isEnabled(); }, 30000));
    EXPECT_TRUE(result->text().contains("could not be verified (SHA-256 fingerprint ")) << result->text().toStdString();
    ASSERT_TRUE(trust->isVisible());
    QTest::mouseClick(trust, Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return test->isEnabled(); }, 30000));
    EXPECT_EQ(result->text(),
              QStringLiteral("Connected to 127.0.0.1:%1 and logged in as anna@example.org.").arg(smtp.port()));
    EXPECT_FALSE(trust->isVisible());
    EXPECT_TRUE(QSettings(hostmail::StorePaths::configurationFile(), QSettings::IniFormat)
                    .value("Smtp/TrustedCertificate")
                    .toString()
                    .startsWith("sha256:"));

    // A server that takes the connection and never says a word: Cancel ends the wait.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    in<QSpinBox>(w, "spnSmtpPort")->setValue(silent.serverPort());
    QTest::mouseClick(test, Qt::LeftButton);
    auto *cancel = in<QPushButton>(w, "btnCancelAccounts");
    ASSERT_TRUE(eventually([&] { return silent.hasPendingConnections() || silent.waitForNewConnection(50); }, 10000));
    EXPECT_TRUE(cancel->isVisible());
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(cancel, Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return test->isEnabled(); }, 5000));
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(result->text(), "Cancelled; nothing was sent.");
    EXPECT_FALSE(cancel->isVisible());

    // Closing the window while a test waits ends it as soon.
    QTest::mouseClick(test, Qt::LeftButton);
    QTest::qWait(300);
    clock.restart();
    delete w;
    EXPECT_LT(clock.elapsed(), 2000);
}

TEST_F(AccountsWindow, APasswordIsKeptForTheAccountWhateverItsPortAndAnEarlierEntryIsStillRead)
{
    hostmail::SmtpSettings account;
    account.host = "mail.berg.test";
    account.user = "anna";
    account.port = 587;
    hostmail::smtp::storeAccountPassword(account, "first");
    account.port = 465; // the security changed, and the port with it
    EXPECT_EQ(hostmail::smtp::accountPassword(account), "first");
    // Kept by an earlier version under its server and port.
    QFile old(keyring.filePath("entry-" + QString::fromLatin1(QByteArray("smtp:ben@old.test:25").toHex())));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("second");
    old.close();
    hostmail::SmtpSettings earlier;
    earlier.host = "old.test";
    earlier.user = "ben";
    earlier.port = 25;
    EXPECT_EQ(hostmail::smtp::accountPassword(earlier), "second");
}

namespace {

// The address books of the test's Radicale, one "contacts" book for each
// "user:password" line, and its users file; gives that file.
QString prepareBooks(const QTemporaryDir &work, const QByteArray &users)
{
    for (const QByteArray &line : users.split('\n')) {
        if (line.isEmpty())
            continue;
        const QString book =
            work.filePath("dav/collection-root/" + QString::fromUtf8(line.split(':').first()) + "/contacts");
        QDir().mkpath(book);
        QFile props(book + "/.Radicale.props");
        props.open(QIODevice::WriteOnly);
        props.write(R"({"tag": "VADDRESSBOOK", "D:displayname": "contacts"})");
    }
    QFile file(work.filePath("dav-users"));
    file.open(QIODevice::WriteOnly);
    file.write(users);
    return file.fileName();
}

} // namespace

TEST_F(AccountsWindow, ASelfHostedAndAnAutoconfigDomainSendAndReachTheirAddressBookFromTheWindowAlone)
{
    ASSERT_TRUE(makeCertificate(work.path()));
    const QString cert = work.filePath("cert.pem"), key = work.filePath("key.pem");
    StandIn srvMail("smtp_server.py", {work.filePath("srv-received"), "tls", cert, key, "--user", "anna@berg.test",
                                       "--password", "one-secret"});
    StandIn autoMail("smtp_server.py",
                     {work.filePath("auto-received"), "tls", cert, key, "--user", "anna", "--password", "two-secret"});
    ASSERT_GT(srvMail.port(), 0);
    ASSERT_GT(autoMail.port(), 0);
    // Radicale over TLS with the test's certificate and users.
    const Radicale dav(work.filePath("dav"),
                       Radicale::htpasswd(prepareBooks(work, "anna@berg.test:one-secret\nanna@auto.test:two-secret\n")),
                       work.filePath("cert.pem"), work.filePath("key.pem"));
    ASSERT_TRUE(dav.ready());
    QFile zone(work.filePath("zone"));
    ASSERT_TRUE(zone.open(QIODevice::WriteOnly));
    zone.write(QStringLiteral("_submissions._tcp.berg.test. 60 IN SRV 0 1 %1 127.0.0.1.\n"
                              "_carddavs._tcp.berg.test. 60 IN SRV 0 1 %2 127.0.0.1.\n"
                              "_carddavs._tcp.berg.test. 60 IN TXT \"path=/\"\n")
                   .arg(srvMail.port())
                   .arg(dav.port())
                   .toUtf8());
    zone.close();
    StandIn dns("dns_server.py", {"127.0.0.153", zone.fileName()});
    if (dns.line() != "ready")
        GTEST_SKIP() << "no name server on 127.0.0.153:53 (it needs the right to bind port 53)";
    QDir().mkpath(work.filePath("www/autoconfig.auto.test/mail"));
    QFile config(work.filePath("www/autoconfig.auto.test/mail/config-v1.1.xml"));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write(QStringLiteral("<clientConfig version=\"1.1\"><emailProvider id=\"auto.test\">"
                                "<outgoingServer type=\"smtp\"><hostname>127.0.0.1</hostname><port>%1</port>"
                                "<socketType>SSL</socketType><authentication>password-cleartext</authentication>"
                                "<username>%EMAILLOCALPART%</username></outgoingServer></emailProvider>"
                                "<addressBook type=\"carddav\"><serverURL>https://127.0.0.1:%2/</serverURL>"
                                "</addressBook></clientConfig>")
                     .arg(autoMail.port())
                     .arg(dav.port())
                     .toUtf8());
    config.close();
    StandIn www("https_files.py", {work.filePath("www"), cert, key});
    ASSERT_GT(www.port(), 0);

    for (const auto &[address, password] : {std::pair{QString("anna@berg.test"), QString("one-secret")},
                                            std::pair{QString("anna@auto.test"), QString("two-secret")}}) {
        SCOPED_TRACE(address.toStdString());
        auto *w = openAccounts(QStringLiteral("[SignIn]\nResolver=127.0.0.153\nAutoconfigBase=https://127.0.0.1:%1\n"
                                              "CaFile=%2\n")
                                   .arg(www.port())
                                   .arg(cert)
                                   .toUtf8());
        ASSERT_TRUE(w);
        typeYou(w, address, password);
        auto *found = in<QLabel>(w, "lblFound");
        ASSERT_TRUE(eventually([&] { return !found->text().isEmpty(); }, 20000));
        EXPECT_TRUE(found->text().startsWith("Found the mail server from ")) << found->text().toStdString();
        auto *result = in<QLabel>(w, "lblSmtpResult");
        // The servers' own certificate, trusted from the window, then a test message.
        ASSERT_NO_FATAL_FAILURE(trustAndSendTest(w));
        EXPECT_EQ(result->text(), "A test message went to " + address + ".");
        auto *book = in<QPushButton>(w, "btnTestDav");
        QTest::mouseClick(book, Qt::LeftButton);
        ASSERT_TRUE(eventually([&] { return book->isEnabled(); }, 30000));
        ASSERT_TRUE(in<QPushButton>(w, "btnTrustDav")->isVisible()) << result->text().toStdString();
        QTest::mouseClick(in<QPushButton>(w, "btnTrustDav"), Qt::LeftButton);
        ASSERT_TRUE(eventually([&] { return book->isEnabled() && !result->text().startsWith("Looking"); }, 30000));
        EXPECT_TRUE(result->text().startsWith("Logged in; the contacts will come from https://127.0.0.1:"))
            << result->text().toStdString();
        QTest::mouseClick(in<QPushButton>(w, "btnSaveAccounts"), Qt::LeftButton);
        EXPECT_EQ(result->text(), "The account is saved.");
        delete w;
    }
    EXPECT_EQ(QDir(work.filePath("srv-received/new")).entryList(QDir::Files).size(), 1);
    EXPECT_EQ(QDir(work.filePath("auto-received/new")).entryList(QDir::Files).size(), 1);
}

TEST_F(AccountsWindow, WithNoKeyringAtAllTheWindowKeepsThePasswordInMemoryAndAGreetingLeavesWithIt)
{
    if (!hostmail::smtp::memory::available())
        GTEST_SKIP() << "the kernel keeps no keys for this process (a container that forbids keyctl)";
    // A machine without any keyring tool: PATH holds every program but secret-tool.
    const QString bin = work.filePath("bin");
    QDir().mkpath(bin);
    for (const QString &folder : {QStringLiteral("/usr/bin"), QStringLiteral("/bin")})
        for (const QFileInfo &program : QDir(folder).entryInfoList(QDir::Files | QDir::NoDotAndDotDot))
            if (program.fileName() != "secret-tool")
                QFile::link(program.absoluteFilePath(), bin + "/" + program.fileName());
    qputenv("PATH", bin.toUtf8());
    ASSERT_TRUE(makeCertificate(work.path()));
    const QString user = QStringLiteral("anna-%1").arg(QCoreApplication::applicationPid());
    StandIn smtp("smtp_server.py", {work.filePath("received"), "starttls", work.filePath("cert.pem"),
                                    work.filePath("key.pem"), "--user", user, "--password", "in-memory-only"});
    ASSERT_GT(smtp.port(), 0);
    common::Clock::setFixed(QDateTime(QDate::currentDate(), QTime(9, 0)));
    store.addCard("a.vcf",
                  "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lind;Tom;;;\r\nFN:Tom Lind\r\nEMAIL:tom@example.org\r\nBDAY:" +
                      QDate::currentDate().addYears(-40).toString(Qt::ISODate).toUtf8() + "\r\nEND:VCARD\r\n");
    store.paths.deliveryAgent = CHEERPOST_DELIVER;

    auto *w = openAccounts("");
    ASSERT_TRUE(w);
    EXPECT_EQ(in<QLabel>(w, "lblKeyring")->text(),
              "There is no desktop keyring here, so the passwords are kept in memory until you log out and asked for "
              "again after you log in. A password command can give them instead.");
    EXPECT_TRUE(in<QCheckBox>(w, "chkPasswordInMemory")->isChecked());
    in<QCheckBox>(w, "chkManual")->click();
    in<QLineEdit>(w, "txtName")->setText("Anna Berg");
    in<QLineEdit>(w, "txtAddress")->setText("anna@berg.test");
    in<QLineEdit>(w, "txtPassword")->setText("in-memory-only");
    in<QLineEdit>(w, "txtSmtpHost")->setText("127.0.0.1");
    in<QSpinBox>(w, "spnSmtpPort")->setValue(smtp.port());
    in<QLineEdit>(w, "txtSmtpUser")->setText(user);
    QTest::mouseClick(in<QPushButton>(w, "btnSaveAccounts"), Qt::LeftButton);
    auto *result = in<QLabel>(w, "lblSmtpResult");
    ASSERT_EQ(result->text(), "The account is saved.");
    const QByteArray conf = store.read(hostmail::StorePaths::configurationFile());
    EXPECT_FALSE(conf.contains("in-memory-only"));
    EXPECT_EQ(QSettings(hostmail::StorePaths::configurationFile(), QSettings::IniFormat)
                  .value("Smtp/KeepPassword")
                  .toString(),
              "memory");
    // The self-signed server, trusted from the window; the test message then reads the password from memory.
    ASSERT_NO_FATAL_FAILURE(trustAndSendTest(w));
    EXPECT_EQ(result->text(), "A test message went to anna@berg.test.");
    w->close();

    // The day's greeting, from the example template, taken by the delivery agent. The test's store
    // composes it without a From, as a message queued before the sender was set: it leaves with the
    // sender set in the window.
    find<QRadioButton>("OptSendAutomatic")->setChecked(true);
    QTest::mouseClick(find<QPushButton>("BtnSendEmails"), Qt::LeftButton);
    const QDir received(work.filePath("received/new"));
    EXPECT_TRUE(eventually([&] { return received.entryList(QDir::Files).size() == 2; }, 60000))
        << received.entryList(QDir::Files).size() << " messages arrived";
    QByteArray greeting;
    for (const QString &file : received.entryList(QDir::Files))
        if (const QByteArray text = store.read(received.filePath(file)); text.contains("tom@example.org"))
            greeting = text;
    EXPECT_TRUE(greeting.contains("From: Anna Berg <anna@berg.test>")) << greeting.left(400).toStdString();
    EXPECT_TRUE(greeting.contains("Wishing you a wonderful day")) << greeting.toStdString();

    // After a log-out the password is gone: the window asks for it again.
    hostmail::smtp::memory::forget(QStringLiteral("smtp:%1@127.0.0.1").arg(user));
    window->findChild<QAction *>("mnuAccounts")->trigger();
    auto *again = window->findChild<shell::frmAccounts *>();
    ASSERT_TRUE(again);
    EXPECT_EQ(in<QLineEdit>(again, "txtSmtpPassword")->placeholderText(),
              "not in memory since you logged in: enter it again");
    QTest::mouseClick(in<QPushButton>(again, "btnSaveAccounts"), Qt::LeftButton);
    EXPECT_EQ(in<QLabel>(again, "lblSmtpResult")->text(),
              "Nothing was saved: enter the password of the mail account to keep it in memory until you log out.");
    again->close();
}
