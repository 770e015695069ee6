#include "hostmail/model/Item.h"

namespace hostmail {

QVariant Item::sortValue(const QString &key) const
{
    if (key == QLatin1String("[Subject]"))
        return Subject();
    return QString();
}

} // namespace hostmail
