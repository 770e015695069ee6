#pragma once

#include "hostmail/mime/MimeMessage.h"
#include "hostmail/model/Items.h"

#include <QHash>

namespace hostmail {

// The distribution lists of a contacts folder's items, by name without
// letter case, each with the addresses of its members: a urn:uuid member is
// the first e-mail address of that contact, a mailto: member its address.
// Only single mailboxes count.
class DistributionLists {
public:
    DistributionLists() = default;
    explicit DistributionLists(const Items &items);

    bool contains(const QString &name) const { return m_lists.contains(name.toCaseFolded()); }
    mime::ListMembers members(const QString &name) const { return m_lists.value(name.toCaseFolded()); }

private:
    QHash<QString, mime::ListMembers> m_lists;
};

} // namespace hostmail
