#include "shell/views/frmOutbox.h"

#include "common/core/Clock.h"
#include "common/core/Prompter.h"
#include "hostmail/HostError.h"
#include "hostmail/model/Application.h"
#include "hostmail/process/CommandRunner.h"
#include "shell/core/OutboxStatus.h"
#include "ui_frmOutbox.h"

#include <QHeaderView>
#include <QTimer>

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
    // The status of the message chosen, whole: the column shows its start.
    connect(m_ui->lstOutbox, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem *row) { m_ui->lblOutboxStatus->setText(row ? row->text(3) : QString()); });
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
    int released = 0;
    QString agent;
    QStringList arguments;
    try {
        const hostmail::StorePaths paths = m_openHost()->paths();
        const hostmail::Delivery delivery(paths);
        for (const hostmail::OutboxEntry &e : selected()) {
            if (e.status == hostmail::OutboxEntry::Status::Held &&
                !m_prompter->askYesNo(common::kAppTitle, sendHeldAgainQuestion(e)))
                continue;
            delivery.retry(e.file);
            ++released;
        }
        agent = paths.deliveryAgent;
        arguments = hostmail::Application::deliveryAgentArguments(paths);
    } catch (const hostmail::HostError &e) {
        m_prompter->tell(common::kAppTitle, QString::fromUtf8(e.what()), common::MessageIcon::Critical);
    }
    refresh();
    Q_EMIT changed();
    if (released == 0)
        return;
    // Handed over now, not at the next timer run (which may never come
    // where no user manager runs); the list follows what became of them.
    if (agent.isEmpty() || !hostmail::startDetached(QStringList{agent} + arguments)) {
        m_ui->lblOutboxStatus->setText(
            QStringLiteral("No delivery agent could be started; the messages leave at the next delivery."));
        return;
    }
    m_ui->lblOutboxStatus->setText(QStringLiteral("Sending now…"));
    for (const int ms : {2000, 6000, 15000})
        QTimer::singleShot(ms, this, [this] {
            if (!isVisible())
                return;
            refresh();
            Q_EMIT changed();
        });
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
