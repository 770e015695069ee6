#pragma once

#include "hostmail/smtp/SmtpSession.h"
#include "hostmail/store/StorePaths.h"
#include "shell/core/MailAccount.h"

#include <QDialog>
#include <QFutureWatcher>
#include <QLineEdit>

#include <memory>
#include <optional>

namespace Ui {
class frmAccounts;
}

namespace shell {

// The user's name, e-mail address and password, from which the settings of
// both accounts are found (or, behind "Set up manually", typed): the mail
// account (server, security, port, user name and password, or a sign-in
// with the provider in the browser) and the address book server (address,
// user, password, the address book chosen). Finding, signing in and tests
// run off the window's thread and say in words what happened; a
// certificate that does not verify may be trusted from here.
class frmAccounts : public QDialog {
    Q_OBJECT
public:
    explicit frmAccounts(QWidget *parent = nullptr);
    ~frmAccounts() override;

    void save();
    void test();
    void sendTest();
    void testAddressBook();
    // Finds both accounts' settings from the e-mail address and shows them.
    void findSettings();
    // Signs in with the provider the settings found, in the browser.
    void signIn();
    // Trusts the certificate the last test could not verify, for this account.
    void trustCertificate();
    void trustMailCertificate();
    // Ends what runs (a test, the search, the sign-in) within a second.
    void cancel();

private:
    hostmail::SmtpSettings shown() const;
    // The password typed for an account: its own field, else the one for both.
    QString typedPassword(const QLineEdit *own) const;
    hostmail::CardDavSettings shownAddressBook() const;
    void run(const std::function<hostmail::smtp::SmtpResult()> &work, const QString &doing);
    void setBusy(bool busy);
    // Starts showing that a test runs; false while another one still does.
    bool begin(const QString &doing);
    void showAddressBooks(const AddressBookTest &test);
    void showFound(const hostmail::signin::Discovered &found);
    void showSignIn();
    // Where the passwords go: the placeholders say it, and one that memory lost is asked for.
    void showPasswordStore();

    std::unique_ptr<Ui::frmAccounts> m_ui;
    hostmail::SmtpSettings m_account; // as loaded: what the window does not show stays
    hostmail::CardDavSettings m_addressBook;
    QFutureWatcher<hostmail::smtp::SmtpResult> m_work;
    QFutureWatcher<AddressBookTest> m_bookWork;
    QFutureWatcher<hostmail::signin::Discovered> m_findWork;
    QFutureWatcher<QString> m_signInWork;
    std::atomic_bool m_cancelled{false};    // set when the window closes: ends a sign-in waiting for the browser
    QString m_untrusted;                    // the certificate the last address book test could not verify
    QString m_untrustedMail;                // the same for the mail server
    bool m_signInToMemory = false;          // where the sign-in under way keeps its token
    std::optional<bool> m_signedInToMemory; // the same for the sign-in done in this window
};

} // namespace shell
