#include "shell/views/frmOutbox.h"

#include "common/core/Clock.h"
#include "common/core/Prompter.h"
#include "hostmail/HostError.h"
#include "shell/core/OutboxStatus.h"
#include "ui_frmOutbox.h"

#include <QHeaderView>

namespace shell {

frmOutbox::frmOutbox(hostmail::ApplicationFactory openHost, std::shared_ptr<common::Prompter> prompter, QWidget *parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::frmOutbox>()), m_openHost(std::move(openHost)),
      m_prompter(std::move(prompter))
{
    m_ui->setupUi(this);
    m_ui->lstOutbox->header()->setSectionResizeMode(QHeaderView::Interactive);
    m_ui->lstOutbox->header()->setStretchLastSection(true);
    connect(m_ui->btnRetry, &QPushButton::clicked, this, &frmOutbox::retrySelected);
    connect(m_ui->btnRemove, &QPushButton::clicked, this, &frmOutbox::removeSelected);
    connect(m_ui->btnRefresh, &QPushButton::clicked, this, &frmOutbox::refresh);
    connect(m_ui->btnClose, &QPushButton::clicked, this, &QDialog::close);
    refresh();
}

frmOutbox::~frmOutbox() = default;

void frmOutbox::refresh()
{
    m_ui->lstOutbox->clear();
    m_entries.clear();
    try {
        m_entries = hostmail::Delivery(m_openHost()->paths()).outbox();
    } catch (const hostmail::HostError &e) {
        m_prompter->tell(common::kAppTitle, QString::fromUtf8(e.what()), common::MessageIcon::Critical);
    }
    const QDateTime now = common::Clock::now();
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        const hostmail::OutboxEntry &e = m_entries.at(i);
        auto *row =
            new QTreeWidgetItem(m_ui->lstOutbox, {e.subject, e.recipients, outboxDueText(e, now), outboxStatusText(e)});
        row->setData(0, Qt::UserRole, int(i));
        row->setToolTip(3, outboxStatusText(e));
    }
    for (int c = 0; c < 3; ++c)
        m_ui->lstOutbox->resizeColumnToContents(c);
    const bool any = !m_entries.isEmpty();
    m_ui->btnRetry->setEnabled(any);
    m_ui->btnRemove->setEnabled(any);
}

QList<hostmail::OutboxEntry> frmOutbox::selected() const
{
    QList<hostmail::OutboxEntry> out;
    for (const QTreeWidgetItem *row : m_ui->lstOutbox->selectedItems())
        out.append(m_entries.value(row->data(0, Qt::UserRole).toInt()));
    return out;
}

void frmOutbox::retrySelected()
{
    try {
        const hostmail::Delivery delivery(m_openHost()->paths());
        for (const hostmail::OutboxEntry &e : selected()) {
            if (e.status == hostmail::OutboxEntry::Status::Held &&
                !m_prompter->askYesNo(common::kAppTitle, sendHeldAgainQuestion(e)))
                continue;
            delivery.retry(e.file);
        }
    } catch (const hostmail::HostError &e) {
        m_prompter->tell(common::kAppTitle, QString::fromUtf8(e.what()), common::MessageIcon::Critical);
    }
    refresh();
    Q_EMIT changed();
}

void frmOutbox::removeSelected()
{
    try {
        const hostmail::Delivery delivery(m_openHost()->paths());
        for (const hostmail::OutboxEntry &e : selected()) {
            if (m_prompter->askYesNo(common::kAppTitle, removeQuestion(e)))
                delivery.remove(e.file);
        }
    } catch (const hostmail::HostError &e) {
        m_prompter->tell(common::kAppTitle, QString::fromUtf8(e.what()), common::MessageIcon::Critical);
    }
    refresh();
    Q_EMIT changed();
}

} // namespace shell
