#include "shell/views/frmAccounts.h"

#include "hostmail/HostError.h"
#include "shell/core/MailAccount.h"
#include "ui_frmAccounts.h"

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
    if (!m_account.passwordCommand.isEmpty())
        m_ui->txtSmtpPassword->setPlaceholderText(QStringLiteral("from the password command in host.conf"));
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
    if (!book.passwordCommand.isEmpty())
        m_ui->txtDavPassword->setPlaceholderText(QStringLiteral("from the password command in host.conf"));
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
        m_ui->lblSmtpResult->setText(m_work.result().text);
        setBusy(false);
    });
    connect(&m_bookWork, &QFutureWatcher<AddressBookTest>::finished, this, [this] {
        showAddressBooks(m_bookWork.result());
        setBusy(false);
    });
}

frmAccounts::~frmAccounts()
{
    m_work.waitForFinished();
    m_bookWork.waitForFinished();
}

void frmAccounts::setBusy(bool busy)
{
    m_ui->btnTestSmtp->setEnabled(!busy);
    m_ui->btnSendTest->setEnabled(!busy);
    m_ui->btnTestDav->setEnabled(!busy);
    m_ui->btnTrustDav->setEnabled(!busy);
}

void frmAccounts::showAddressBooks(const AddressBookTest &test)
{
    m_ui->lblSmtpResult->setText(test.text);
    m_untrusted = test.untrustedCertificate;
    m_ui->btnTrustDav->setVisible(!m_untrusted.isEmpty());
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

hostmail::SmtpSettings frmAccounts::shown() const
{
    hostmail::SmtpSettings a = m_account;
    a.host = m_ui->txtSmtpHost->text().trimmed();
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
    const hostmail::SmtpSettings a = shown();
    const hostmail::CardDavSettings b = shownAddressBook();
    QString error = saveMailAccount(hostmail::StorePaths::configurationFile(), a);
    if (error.isEmpty())
        error = saveAddressBookAccount(hostmail::StorePaths::configurationFile(), b);
    if (error.isEmpty() && !m_ui->txtDavPassword->text().isEmpty() && b.passwordCommand.isEmpty()) {
        try {
            hostmail::smtp::storeAccountPassword(b, m_ui->txtDavPassword->text());
            m_ui->txtDavPassword->clear();
            m_addressBook = b;
        } catch (const hostmail::HostError &e) {
            error = QString::fromUtf8(e.what());
        }
    }
    if (error.isEmpty() && !m_ui->txtSmtpPassword->text().isEmpty() && a.passwordCommand.isEmpty()) {
        try {
            hostmail::smtp::storeAccountPassword(a, m_ui->txtSmtpPassword->text());
        } catch (const hostmail::HostError &e) {
            error = QString::fromUtf8(e.what());
        }
    }
    if (error.isEmpty()) {
        m_account = a;
        m_ui->txtSmtpPassword->clear();
    }
    m_ui->lblSmtpResult->setText(error.isEmpty() ? QStringLiteral("The account is saved.") : error);
}

bool frmAccounts::begin(const QString &doing)
{
    if (m_work.isRunning() || m_bookWork.isRunning())
        return false; // one test at a time
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
    const QString password = m_ui->txtSmtpPassword->text();
    run([a, password] { return testMailAccount(a, password); }, QStringLiteral("Connecting to %1…").arg(a.host));
}

void frmAccounts::testAddressBook()
{
    const hostmail::CardDavSettings b = shownAddressBook();
    const QString password = m_ui->txtDavPassword->text();
    if (begin(QStringLiteral("Looking for the address book at %1…").arg(b.url)))
        m_bookWork.setFuture(QtConcurrent::run([b, password] { return shell::testAddressBook(b, password); }));
}

void frmAccounts::sendTest()
{
    const hostmail::SmtpSettings a = shown();
    const QString password = m_ui->txtSmtpPassword->text();
    const QString from = hostmail::StorePaths::fromConfiguration().from;
    run([a, password, from] { return sendTestMessage(a, password, from); },
        QStringLiteral("Sending a test message through %1…").arg(a.host));
}

} // namespace shell
