#include "hostmail/carddav/SyncPlan.h"

namespace hostmail::carddav {

SyncPlan planSync(const QMap<QString, KnownCard> &known, const ServerChanges &changes, bool mayDeleteMost)
{
    SyncPlan plan;
    QStringList gone;
    for (const QString &href : changes.removed)
        if (known.contains(href) && !gone.contains(href))
            gone.append(href); // a card never known here has nothing to delete
    if (!gone.isEmpty() && gone.size() * 2 > known.size() && !mayDeleteMost) {
        plan.withheld = int(gone.size());
        return plan;
    }
    plan.fetch = changes.changed;
    for (auto it = known.cbegin(); it != known.cend(); ++it)
        if (it->here == Here::Missing && !gone.contains(it.key()) && !plan.fetch.contains(it.key()))
            plan.fetch.insert(it.key(), it->etag); // the server's card comes back
    for (const QString &href : gone) {
        plan.fetch.remove(href);
        switch (known.value(href).here) {
        case Here::Same:
            plan.remove.append(href);
            break;
        case Here::Missing:
            plan.forget.append(href);
            break;
        case Here::Changed:
            plan.keepHere.append(href);
            break;
        }
    }
    return plan;
}

} // namespace hostmail::carddav
