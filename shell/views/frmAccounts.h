#pragma once

#include "hostmail/smtp/SmtpSession.h"
#include "hostmail/store/StorePaths.h"

#include <QDialog>
#include <QFutureWatcher>

#include <memory>

namespace Ui {
class frmAccounts;
}

namespace shell {

// The user's mail account: server, security, port, user name and password;
// Test and a test message to oneself run off the window's thread and say in
// words what happened.
class frmAccounts : public QDialog {
    Q_OBJECT
public:
    explicit frmAccounts(QWidget *parent = nullptr);
    ~frmAccounts() override;

    void save();
    void test();
    void sendTest();
    void testAddressBook();

private:
    hostmail::SmtpSettings shown() const;
    hostmail::CardDavSettings shownAddressBook() const;
    void run(const std::function<hostmail::smtp::SmtpResult()> &work, const QString &doing);

    std::unique_ptr<Ui::frmAccounts> m_ui;
    hostmail::SmtpSettings m_account; // as loaded: what the window does not show stays
    hostmail::CardDavSettings m_addressBook;
    QFutureWatcher<hostmail::smtp::SmtpResult> m_work;
};

} // namespace shell
