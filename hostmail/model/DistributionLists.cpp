#include "hostmail/model/DistributionLists.h"

#include "hostmail/model/ContactItem.h"
#include "hostmail/model/DistListItem.h"
#include "hostmail/vcard/ContactData.h"

namespace hostmail {

DistributionLists::DistributionLists(const Items &items)
{
    QHash<QString, QString> emailByUid;
    QList<const DistListItem *> lists;
    for (const auto &item : items) {
        if (auto *c = dynamic_cast<const ContactItem *>(item.get()); c && !c->uid().isEmpty())
            emailByUid.insert(c->uid(), c->Email1Address());
        else if (auto *l = dynamic_cast<const DistListItem *>(item.get()))
            lists.append(l);
    }
    for (const DistListItem *l : lists) {
        mime::ListMembers members;
        members.hidden = l->hidesMembers();
        for (const QString &m : l->members()) {
            QString a;
            if (m.startsWith(QLatin1String("urn:uuid:"), Qt::CaseInsensitive))
                a = emailByUid.value(m.mid(9), emailByUid.value(m));
            else if (m.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive))
                a = m.mid(7);
            else
                a = emailByUid.value(m, m);
            if (isSingleMailbox(a))
                members.addresses.append(a);
        }
        m_lists.insert(l->DLName().toCaseFolded(), members);
    }
}

} // namespace hostmail
