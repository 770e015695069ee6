#include "common/core/AddressList.h"

namespace common {

std::optional<QString> addressList(const QString &email1, const QString &email2, const QString &email3)
{
    if (email1.isEmpty())
        return std::nullopt;
    QString list = email1;
    if (!email2.isEmpty())
        list += QLatin1Char(';') + email2;
    if (!email3.isEmpty())
        list += QLatin1Char(';') + email3;
    return list;
}

} // namespace common
