#include "shell/views/frmAccounts.h"

#include "hostmail/HostError.h"
#include "hostmail/smtp/MemoryKeyring.h"
#include "shell/core/MailAccount.h"
#include "ui_frmAccounts.h"

#include <QStandardPaths>
#include <QtConcurrent/QtConcurrentRun>

namespace shell {

namespace {

using Security = hostmail::SmtpSettings::Security;
constexpr Security kSecurities[] = {Security::StartTls, Security::Tls, Security::None};

} // namespace

frmAccounts::frmAccounts(QWidget *parent) : QDialog(parent), m_ui(std::make_unique<Ui::frmAccounts>())
{
    m_ui->setupUi(this);
    m_account = loadMailAccount();
    m_ui->txtSmtpHost->setText(m_account.host);
    m_ui->cboSmtpSecurity->setCurrentIndex(
        int(std::find(std::begin(kSecurities), std::end(kSecurities), m_account.security) - std::begin(kSecurities)));
    m_ui->spnSmtpPort->setValue(m_account.port);
    m_ui->txtSmtpUser->setText(m_account.user);
    // The usual port follows the security chosen.
    connect(m_ui->cboSmtpSecurity, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index == 0 && m_ui->spnSmtpPort->value() == 465)
            m_ui->spnSmtpPort->setValue(587);
        else if (index == 1 && m_ui->spnSmtpPort->value() == 587)
            m_ui->spnSmtpPort->setValue(465);
    });
    const hostmail::CardDavSettings book = hostmail::StorePaths::fromConfiguration().cardDav;
    m_addressBook = book;
    m_ui->txtDavUrl->setText(book.url);
    m_ui->txtDavUser->setText(book.user);
    m_ui->cboDavBook->addItem(book.addressBook.isEmpty() ? QStringLiteral("\"contacts\", else the first")
                                                         : book.addressBook,
                              book.addressBook);
    connect(m_ui->btnTestDav, &QPushButton::clicked, this, &frmAccounts::testAddressBook);
    connect(m_ui->btnTrustDav, &QPushButton::clicked, this, &frmAccounts::trustCertificate);
    connect(m_ui->btnSaveAccounts, &QPushButton::clicked, this, &frmAccounts::save);
    connect(m_ui->btnTestSmtp, &QPushButton::clicked, this, &frmAccounts::test);
    connect(m_ui->btnSendTest, &QPushButton::clicked, this, &frmAccounts::sendTest);
    connect(m_ui->btnCloseAccounts, &QPushButton::clicked, this, &QDialog::close);
    connect(&m_work, &QFutureWatcher<hostmail::smtp::SmtpResult>::finished, this, [this] {
        const hostmail::smtp::SmtpResult r = m_work.result();
        m_ui->lblSmtpResult->setText(r.text);
        // A password the server refused is asked for again, here.
        if (r.outcome == hostmail::smtp::SmtpResult::Outcome::LoginRefused && m_account.signIn.isEmpty()) {
            m_ui->chkManual->setChecked(true);
            m_ui->txtSmtpPassword->setPlaceholderText(QStringLiteral("refused: enter the password again"));
            m_ui->txtSmtpPassword->setFocus();
        }
        m_untrustedMail = r.untrustedCertificate;
        m_ui->btnTrustSmtp->setVisible(!m_untrustedMail.isEmpty());
        if (!m_untrustedMail.isEmpty())
            m_ui->chkManual->setChecked(true); // where the Trust button is
        setBusy(false);
    });
    connect(m_ui->btnTrustSmtp, &QPushButton::clicked, this, &frmAccounts::trustMailCertificate);
    connect(m_ui->btnCancelAccounts, &QPushButton::clicked, this, &frmAccounts::cancel);
    connect(&m_bookWork, &QFutureWatcher<AddressBookTest>::finished, this, [this] {
        showAddressBooks(m_bookWork.result());
        setBusy(false);
    });
    const auto [name, address] = splitSender(hostmail::StorePaths::fromConfiguration().from);
    m_ui->txtName->setText(name);
    m_ui->txtAddress->setText(address.isEmpty() && m_account.user.contains(QLatin1Char('@')) ? m_account.user
                                                                                             : address);
    // A new user sees name, address and password; the settings once there are.
    const bool configured = m_account.enabled() || m_addressBook.enabled();
    m_ui->chkManual->setChecked(configured);
    m_ui->fraMailAccount->setVisible(configured);
    m_ui->fraAddressBook->setVisible(configured);
    connect(m_ui->chkManual, &QCheckBox::toggled, this, [this](bool on) {
        m_ui->fraMailAccount->setVisible(on);
        m_ui->fraAddressBook->setVisible(on);
    });
    connect(m_ui->btnFindSettings, &QPushButton::clicked, this, &frmAccounts::findSettings);
    connect(m_ui->btnSignIn, &QPushButton::clicked, this, &frmAccounts::signIn);
    connect(&m_findWork, &QFutureWatcher<hostmail::signin::Discovered>::finished, this, [this] {
        showFound(m_findWork.result());
        setBusy(false);
    });
    connect(&m_signInWork, &QFutureWatcher<QString>::finished, this, [this] {
        const QString error = m_signInWork.result();
        if (error.isEmpty())
            m_signedInToMemory = m_signInToMemory;
        m_ui->lblSmtpResult->setText(error.isEmpty() ? QStringLiteral("Signed in as %1.").arg(m_ui->txtAddress->text())
                                                     : error);
        setBusy(false);
    });
    showSignIn();
    // Without a desktop keyring, memory is what works (or a password command).
    const bool noKeyring = QStandardPaths::findExecutable(QStringLiteral("secret-tool")).isEmpty();
    m_ui->chkPasswordInMemory->setChecked(noKeyring || m_account.passwordInMemory || m_addressBook.passwordInMemory);
    if (noKeyring) {
        m_ui->lblKeyring->setText(
            QStringLiteral("There is no desktop keyring here, so the passwords are kept in memory until you log out "
                           "and asked for again after you log in. A password command can give them instead."));
        m_ui->lblKeyring->show();
    }
    connect(m_ui->chkPasswordInMemory, &QCheckBox::toggled, this, &frmAccounts::showPasswordStore);
    showPasswordStore();
}

void frmAccounts::showPasswordStore()
{
    const bool memory = m_ui->chkPasswordInMemory->isChecked();
    const QString where =
        memory ? QStringLiteral("kept in memory until you log out") : QStringLiteral("kept in the desktop keyring");
    m_ui->txtPassword->setPlaceholderText(QStringLiteral("for both accounts; ") + where);
    const auto hint = [&](QLineEdit *field, const QString &command, bool inMemory, const QString &keyringAccount) {
        if (!command.isEmpty())
            field->setPlaceholderText(QStringLiteral("from the password command in host.conf"));
        else if (memory && inMemory && !hostmail::smtp::memory::find(keyringAccount))
            field->setPlaceholderText(QStringLiteral("not in memory since you logged in: enter it again"));
        else
            field->setPlaceholderText(where + QStringLiteral("; empty keeps the one stored"));
    };
    hint(m_ui->txtSmtpPassword, m_account.passwordCommand, m_account.passwordInMemory && m_account.enabled(),
         m_account.keyringAccount());
    hint(m_ui->txtDavPassword, m_addressBook.passwordCommand, m_addressBook.passwordInMemory && m_addressBook.enabled(),
         m_addressBook.keyringAccount());
}

frmAccounts::~frmAccounts()
{
    m_cancelled = true;
    m_work.waitForFinished();
    m_bookWork.waitForFinished();
    m_findWork.waitForFinished();
    m_signInWork.waitForFinished();
}

void frmAccounts::setBusy(bool busy)
{
    m_ui->btnTestSmtp->setEnabled(!busy);
    m_ui->btnSendTest->setEnabled(!busy);
    m_ui->btnTestDav->setEnabled(!busy);
    m_ui->btnTrustDav->setEnabled(!busy);
    m_ui->btnFindSettings->setEnabled(!busy);
    m_ui->btnSignIn->setEnabled(!busy);
    m_ui->btnTrustSmtp->setEnabled(!busy);
    m_ui->btnCancelAccounts->setVisible(busy);
}

void frmAccounts::cancel()
{
    m_cancelled = true;
    m_ui->lblSmtpResult->setText(QStringLiteral("Cancelling…"));
}

void frmAccounts::trustMailCertificate()
{
    if (m_untrustedMail.isEmpty())
        return;
    m_account = shown();
    m_account.trustedCertificate = m_untrustedMail;
    const QString error = saveMailAccount(hostmail::StorePaths::configurationFile(), m_account);
    if (!error.isEmpty()) {
        m_ui->lblSmtpResult->setText(error);
        return;
    }
    m_ui->btnTrustSmtp->hide();
    test();
}

void frmAccounts::showSignIn()
{
    // An account that signs in has no password here.
    const QString provider = !m_account.signIn.isEmpty() ? m_account.signIn : m_addressBook.signIn;
    m_ui->btnSignIn->setVisible(!provider.isEmpty());
    m_ui->txtSmtpPassword->setEnabled(m_account.signIn.isEmpty());
    m_ui->txtDavPassword->setEnabled(m_addressBook.signIn.isEmpty());
    m_ui->txtPassword->setEnabled(m_account.signIn.isEmpty() || m_addressBook.signIn.isEmpty());
}

void frmAccounts::findSettings()
{
    const QString address = m_ui->txtAddress->text().trimmed();
    if (!address.contains(QLatin1Char('@'))) {
        m_ui->lblFound->setText(QStringLiteral("Enter your e-mail address first."));
        return;
    }
    if (begin(QStringLiteral("Looking for the settings of %1…").arg(address)))
        m_findWork.setFuture(QtConcurrent::run([this, address] { return findAccountSettings(address, &m_cancelled); }));
}

void frmAccounts::showFound(const hostmail::signin::Discovered &found)
{
    m_ui->lblSmtpResult->clear();
    if (!found.found()) {
        m_ui->lblFound->setText(
            QStringLiteral("No settings were found for %1: enter them below.").arg(m_ui->txtAddress->text().trimmed()));
        m_ui->chkManual->setChecked(true);
        return;
    }
    if (!found.smtp.host.isEmpty()) {
        m_account.signIn = found.signIn;
        m_ui->txtSmtpHost->setText(found.smtp.host);
        m_ui->cboSmtpSecurity->setCurrentIndex(int(
            std::find(std::begin(kSecurities), std::end(kSecurities), found.smtp.security) - std::begin(kSecurities)));
        m_ui->spnSmtpPort->setValue(found.smtp.port);
        m_ui->txtSmtpUser->setText(found.smtp.user);
    }
    if (!found.contactsUrl.isEmpty()) {
        m_addressBook.signIn = found.signIn;
        m_addressBook.kind = found.contactsKind == QLatin1String("graph") ? found.contactsKind : QString();
        m_ui->txtDavUrl->setText(found.contactsUrl);
        m_ui->txtDavUser->setText(m_ui->txtAddress->text().trimmed());
    }
    QString text = QStringLiteral("Found %1.").arg(found.sources.join(QLatin1String("; ")));
    if (!found.signIn.isEmpty())
        text += QStringLiteral(" %1 takes no password here: sign in in the browser.").arg(found.providerName);
    else if (!found.passwordNote.isEmpty())
        text += QStringLiteral(" The password is %1.").arg(found.passwordNote);
    m_ui->lblFound->setText(text);
    showSignIn();
}

void frmAccounts::signIn()
{
    const QString provider = !m_account.signIn.isEmpty() ? m_account.signIn : m_addressBook.signIn;
    const QString address = m_ui->txtAddress->text().trimmed();
    if (provider.isEmpty() || address.isEmpty())
        return;
    if (begin(QStringLiteral("Waiting for the sign-in in the browser…"))) {
        m_signInToMemory = m_ui->chkPasswordInMemory->isChecked();
        m_signInWork.setFuture(QtConcurrent::run([this, provider, address, inMemory = m_signInToMemory] {
            return signInWithProvider(provider, address, inMemory, &m_cancelled);
        }));
    }
}

void frmAccounts::showAddressBooks(const AddressBookTest &test)
{
    m_ui->lblSmtpResult->setText(test.text);
    m_untrusted = test.untrustedCertificate;
    m_ui->btnTrustDav->setVisible(!m_untrusted.isEmpty());
    if (!m_untrusted.isEmpty())
        m_ui->chkManual->setChecked(true); // where the Trust button is
    if (test.books.isEmpty())
        return;
    m_ui->cboDavBook->clear();
    for (const hostmail::carddav::FoundAddressBook &b : test.books)
        m_ui->cboDavBook->addItem(b.name == b.path ? b.path : QStringLiteral("%1 (%2)").arg(b.name, b.path), b.path);
    m_ui->cboDavBook->setCurrentIndex(qMax(0, m_ui->cboDavBook->findData(test.chosen)));
}

void frmAccounts::trustCertificate()
{
    if (m_untrusted.isEmpty())
        return;
    m_addressBook.trustedCertificate = m_untrusted;
    const QString error = saveAddressBookAccount(hostmail::StorePaths::configurationFile(), shownAddressBook());
    if (!error.isEmpty()) {
        m_ui->lblSmtpResult->setText(error);
        return;
    }
    m_ui->btnTrustDav->hide();
    testAddressBook();
}

QString frmAccounts::typedPassword(const QLineEdit *own) const
{
    return own->text().isEmpty() ? m_ui->txtPassword->text() : own->text();
}

hostmail::SmtpSettings frmAccounts::shown() const
{
    hostmail::SmtpSettings a = m_account;
    a.host = m_ui->txtSmtpHost->text().trimmed();
    if (a.host.compare(m_account.host, Qt::CaseInsensitive) != 0)
        a.trustedCertificate.clear(); // a certificate is trusted for its own server only
    a.security = kSecurities[qBound(0, m_ui->cboSmtpSecurity->currentIndex(), 2)];
    a.port = m_ui->spnSmtpPort->value();
    a.user = m_ui->txtSmtpUser->text().trimmed();
    return a;
}

hostmail::CardDavSettings frmAccounts::shownAddressBook() const
{
    hostmail::CardDavSettings b = m_addressBook;
    b.url = m_ui->txtDavUrl->text().trimmed();
    b.user = m_ui->txtDavUser->text().trimmed();
    b.addressBook = m_ui->cboDavBook->currentData().toString();
    return b;
}

void frmAccounts::save()
{
    hostmail::SmtpSettings a = shown();
    hostmail::CardDavSettings b = shownAddressBook();
    const QString command = m_ui->txtPasswordCommand->text().trimmed();
    if (!command.isEmpty()) {
        a.passwordCommand = a.signIn.isEmpty() ? command : a.passwordCommand;
        b.passwordCommand = b.signIn.isEmpty() ? command : b.passwordCommand;
    }
    // A password goes where the box says; a sign-in's token is where it was
    // kept when the user signed in.
    const bool memory = m_ui->chkPasswordInMemory->isChecked();
    const auto storeOf = [&](bool signIn, bool command, bool before) {
        return signIn ? m_signedInToMemory.value_or(before) : memory && !command;
    };
    a.passwordInMemory = storeOf(!a.signIn.isEmpty(), !a.passwordCommand.isEmpty(), a.passwordInMemory);
    b.passwordInMemory = storeOf(!b.signIn.isEmpty(), !b.passwordCommand.isEmpty(), b.passwordInMemory);
    // Each account's own password, else the one typed for both. They go to
    // the keyring first: where it cannot keep them, nothing is written.
    const QString davPassword = b.signIn.isEmpty() && b.enabled() ? typedPassword(m_ui->txtDavPassword) : QString();
    const QString smtpPassword = a.signIn.isEmpty() && a.enabled() ? typedPassword(m_ui->txtSmtpPassword) : QString();
    // Memory holds nothing that was in the keyring: a password moving there is typed.
    const auto lost = [](const auto &account, const QString &typed) {
        return account.passwordInMemory && account.enabled() && account.signIn.isEmpty() && typed.isEmpty() &&
               !hostmail::smtp::memory::find(account.keyringAccount());
    };
    const bool mailLost = lost(a, smtpPassword), bookLost = lost(b, davPassword);
    QString error;
    if (mailLost || bookLost)
        error =
            QStringLiteral("Nothing was saved: enter the password of the %1 to keep it in memory until you log out.")
                .arg(mailLost ? QStringLiteral("mail account") : QStringLiteral("address book"));
    try {
        if (error.isEmpty() && !davPassword.isEmpty() && b.passwordCommand.isEmpty())
            hostmail::smtp::storeAccountPassword(b, davPassword);
        if (error.isEmpty() && !smtpPassword.isEmpty() && a.passwordCommand.isEmpty())
            hostmail::smtp::storeAccountPassword(a, smtpPassword);
    } catch (const hostmail::HostError &e) {
        error = memory ? QStringLiteral("Nothing was saved: %1.").arg(QString::fromUtf8(e.what()))
                       : QStringLiteral("Nothing was saved: the password could not be kept in the desktop keyring "
                                        "(%1). Start a keyring (GNOME Keyring or KWallet) and save again, keep the "
                                        "passwords in memory until you log out, or enter a password command that "
                                        "prints the password, for example from pass or another password manager.")
                             .arg(QString::fromUtf8(e.what()));
    }
    if (error.isEmpty())
        error = saveAccounts(hostmail::StorePaths::configurationFile(), a, b, m_ui->txtName->text(),
                             m_ui->txtAddress->text());
    if (error.isEmpty()) {
        m_account = a;
        m_addressBook = b;
        m_ui->txtSmtpPassword->clear();
        m_ui->txtDavPassword->clear();
        m_ui->txtPassword->clear();
        showPasswordStore();
    }
    m_ui->lblSmtpResult->setText(error.isEmpty() ? QStringLiteral("The account is saved.") : error);
}

bool frmAccounts::begin(const QString &doing)
{
    if (m_work.isRunning() || m_bookWork.isRunning() || m_findWork.isRunning() || m_signInWork.isRunning())
        return false; // one test at a time
    m_cancelled = false;
    setBusy(true);
    m_ui->lblSmtpResult->setText(doing);
    return true;
}

void frmAccounts::run(const std::function<hostmail::smtp::SmtpResult()> &work, const QString &doing)
{
    if (begin(doing))
        m_work.setFuture(QtConcurrent::run(work));
}

void frmAccounts::test()
{
    const hostmail::SmtpSettings a = shown();
    const QString password = a.signIn.isEmpty() ? typedPassword(m_ui->txtSmtpPassword) : QString();
    run([this, a, password] { return testMailAccount(a, password, &m_cancelled); },
        QStringLiteral("Connecting to %1…").arg(a.host));
}

void frmAccounts::testAddressBook()
{
    const hostmail::CardDavSettings b = shownAddressBook();
    const QString password = b.signIn.isEmpty() ? typedPassword(m_ui->txtDavPassword) : QString();
    if (begin(QStringLiteral("Looking for the address book at %1…").arg(b.url)))
        m_bookWork.setFuture(
            QtConcurrent::run([this, b, password] { return shell::testAddressBook(b, password, &m_cancelled); }));
}

void frmAccounts::sendTest()
{
    const hostmail::SmtpSettings a = shown();
    const QString password = a.signIn.isEmpty() ? typedPassword(m_ui->txtSmtpPassword) : QString();
    const QString from = senderLine(m_ui->txtName->text(), m_ui->txtAddress->text());
    if (!m_ui->txtAddress->text().contains(QLatin1Char('@'))) {
        m_ui->lblSmtpResult->setText(QStringLiteral("Enter your e-mail address first: the test message goes there."));
        return;
    }
    run([this, a, password, from] { return sendTestMessage(a, password, from, &m_cancelled); },
        QStringLiteral("Sending a test message through %1…").arg(a.host));
}

} // namespace shell
