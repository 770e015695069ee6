#include "hostmail/model/Application.h"

#include "hostmail/HostError.h"
#include "hostmail/model/MailItem.h"
#include "hostmail/model/TaskItem.h"
#include "hostmail/process/CommandRunner.h"
#include "hostmail/store/AtomicFile.h"
#include "hostmail/store/Maildir.h"
#include "hostmail/store/WriteBatch.h"

#include <QDir>

namespace hostmail {

Application::Application(StorePaths paths) : m_paths(std::move(paths))
{
    const QStringList folders = {m_paths.contacts, m_paths.calendar, m_paths.tasks, m_paths.notes};
    for (const QString &f : folders) {
        if (f.isEmpty())
            throw HostError(QStringLiteral("Cannot open the mail store folder %1").arg(f));
        try {
            makeFolder(f);
        } catch (const HostError &) {
            throw HostError(QStringLiteral("Cannot open the mail store folder %1").arg(f));
        }
    }
    for (const QString &maildir : {m_paths.drafts(), m_paths.outbox(), m_paths.sent()})
        Maildir(maildir).create();
}

Application::~Application()
{
    // The agent must find the mail on disk: this application's batch ends
    // first, and another batch still open on this thread commits (a file it
    // could not write stays for its own flush to report).
    m_batch.reset();
    if (!*m_sent || m_paths.deliveryAgent.isEmpty())
        return;
    if (WriteBatch *batch = WriteBatch::current())
        batch->commit();
    startDetached(QStringList{m_paths.deliveryAgent} + deliveryAgentArguments(m_paths));
}

void Application::startBatch()
{
    if (!m_batch)
        m_batch = std::make_unique<WriteBatch>();
}

void Application::finishBatch()
{
    if (!m_batch)
        return;
    const std::unique_ptr<WriteBatch> batch = std::move(m_batch);
    batch->flush();
}

QStringList Application::deliveryAgentArguments(const StorePaths &paths)
{
    return {QStringLiteral("--mail"),     paths.mail,
            QStringLiteral("--contacts"), paths.contacts,
            QStringLiteral("--command"),  paths.deliveryCommand,
            QStringLiteral("--timeout"),  QString::number(paths.deliveryTimeoutSeconds)};
}

std::unique_ptr<Application> Application::open()
{
    return std::make_unique<Application>(StorePaths::fromConfiguration());
}

Namespace Application::GetNamespace(const QString &type) const
{
    if (type != QLatin1String("MAPI"))
        throw HostError(QStringLiteral("No namespace %1").arg(type));
    return Namespace(m_paths);
}

std::unique_ptr<MailItem> Application::CreateMailItem() const
{
    return std::make_unique<MailItem>(m_paths, m_sent);
}

std::unique_ptr<TaskItem> Application::CreateTaskItem() const
{
    return std::make_unique<TaskItem>(m_paths);
}

} // namespace hostmail
