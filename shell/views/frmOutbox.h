#pragma once

#include "hostmail/delivery/Delivery.h"
#include "hostmail/model/ApplicationFactory.h"

#include <QDialog>

#include <memory>

namespace Ui {
class frmOutbox;
}

namespace common {
class Prompter;
}

namespace shell {

// The Outbox: what waits and for which day, what failed and why, what is
// held; Send Again and Remove act on the selected messages.
class frmOutbox : public QDialog {
    Q_OBJECT
public:
    frmOutbox(hostmail::ApplicationFactory openHost, std::shared_ptr<common::Prompter> prompter,
              QWidget *parent = nullptr);
    ~frmOutbox() override;

    void refresh();
    void retrySelected();
    void removeSelected();

Q_SIGNALS:
    void changed();

private:
    QList<hostmail::OutboxEntry> selected() const;

    std::unique_ptr<Ui::frmOutbox> m_ui;
    hostmail::ApplicationFactory m_openHost;
    std::shared_ptr<common::Prompter> m_prompter;
    QList<hostmail::OutboxEntry> m_entries;
};

} // namespace shell
