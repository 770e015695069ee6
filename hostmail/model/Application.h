#pragma once

#include "hostmail/model/Namespace.h"
#include "hostmail/store/StorePaths.h"

#include <atomic>
#include <memory>

namespace hostmail {

class MailItem;
class TaskItem;
class WriteBatch;

// The mail host's application object: the entry to every folder and to new
// mail and task items. Opening it makes the store's folders where missing,
// the Maildirs Drafts, Outbox and Sent complete. Mail that is sent waits in
// the Outbox; when the application object of a command that sent mail is
// released, it starts the delivery agent detached, once, so no command waits
// on the network; a write batch it owns is committed before that.
class Application {
public:
    explicit Application(StorePaths paths); // throws HostError when the store cannot be made
    ~Application();
    Application(const Application &) = delete;
    Application &operator=(const Application &) = delete;
    // The store that host.conf and the XDG folders name.
    static std::unique_ptr<Application> open();

    Namespace GetNamespace(const QString &type) const; // "MAPI" only
    std::unique_ptr<MailItem> CreateMailItem() const;  // CreateItem(olMailItem)
    std::unique_ptr<TaskItem> CreateTaskItem() const;  // CreateItem(olTaskItem)
    const StorePaths &paths() const { return m_paths; }

    // The agent's arguments for this store.
    static QStringList deliveryAgentArguments(const StorePaths &paths);

    // A run's write batch, owned here and alive on the calling thread until
    // finishBatch: the files the run writes meanwhile reach the disk together
    // (WriteBatch). finishBatch commits and ends it, and throws HostError
    // naming every file that did not reach the disk; the run decides what
    // that means. Both calls come from the thread that runs the command.
    void startBatch();
    void finishBatch();

private:
    StorePaths m_paths;
    std::unique_ptr<WriteBatch> m_batch;
    std::shared_ptr<std::atomic<bool>> m_sent = std::make_shared<std::atomic<bool>>(false);
};

} // namespace hostmail
