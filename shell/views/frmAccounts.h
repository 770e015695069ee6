#pragma once

#include "hostmail/smtp/SmtpSession.h"
#include "hostmail/store/StorePaths.h"
#include "shell/core/MailAccount.h"

#include <QDialog>
#include <QFutureWatcher>

#include <memory>

namespace Ui {
class frmAccounts;
}

namespace shell {

// The user's mail account (server, security, port, user name and password)
// and address book server (address, user, password, the address book
// chosen). Tests run off the window's thread and say in words what happened;
// a certificate that does not verify may be trusted from here.
class frmAccounts : public QDialog {
    Q_OBJECT
public:
    explicit frmAccounts(QWidget *parent = nullptr);
    ~frmAccounts() override;

    void save();
    void test();
    void sendTest();
    void testAddressBook();
    // Trusts the certificate the last test could not verify, for this account.
    void trustCertificate();

private:
    hostmail::SmtpSettings shown() const;
    hostmail::CardDavSettings shownAddressBook() const;
    void run(const std::function<hostmail::smtp::SmtpResult()> &work, const QString &doing);
    void setBusy(bool busy);
    // Starts showing that a test runs; false while another one still does.
    bool begin(const QString &doing);
    void showAddressBooks(const AddressBookTest &test);

    std::unique_ptr<Ui::frmAccounts> m_ui;
    hostmail::SmtpSettings m_account; // as loaded: what the window does not show stays
    hostmail::CardDavSettings m_addressBook;
    QFutureWatcher<hostmail::smtp::SmtpResult> m_work;
    QFutureWatcher<AddressBookTest> m_bookWork;
    QString m_untrusted; // the certificate the last test could not verify
};

} // namespace shell
