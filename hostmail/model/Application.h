#pragma once

#include "hostmail/model/Namespace.h"
#include "hostmail/store/StorePaths.h"

#include <memory>

namespace hostmail {

class MailItem;
class TaskItem;

// The mail host's application object: the entry to every folder and to new
// mail and task items. Opening it makes the store's folders where missing.
class Application {
public:
    explicit Application(StorePaths paths); // throws HostError when the store cannot be made
    // The store that host.conf and the XDG folders name.
    static std::unique_ptr<Application> open();

    Namespace GetNamespace(const QString &type) const; // "MAPI" only
    std::unique_ptr<MailItem> CreateMailItem() const;  // CreateItem(olMailItem)
    std::unique_ptr<TaskItem> CreateTaskItem() const;  // CreateItem(olTaskItem)
    const StorePaths &paths() const { return m_paths; }

private:
    StorePaths m_paths;
};

} // namespace hostmail
