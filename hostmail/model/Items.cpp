#include "hostmail/model/Items.h"

#include "hostmail/HostError.h"

#include <QDateTime>

#include <algorithm>

namespace hostmail {

void Items::Sort(const QString &key, bool descending)
{
    if (key != QLatin1String("[LastName]") && key != QLatin1String("[Start]") && key != QLatin1String("[Subject]"))
        throw HostError(QStringLiteral("Unknown sort key %1").arg(key));
    std::vector<std::pair<QVariant, std::shared_ptr<Item>>> keyed;
    keyed.reserve(m_items.size());
    for (auto &item : m_items)
        keyed.emplace_back(item->sortValue(key), item);
    auto less = [](const QVariant &a, const QVariant &b) {
        if (a.typeId() == QMetaType::QDateTime && b.typeId() == QMetaType::QDateTime)
            return a.toDateTime() < b.toDateTime();
        if (a.typeId() == QMetaType::QDateTime)
            return false; // dated entries after undated ones
        if (b.typeId() == QMetaType::QDateTime)
            return true;
        return QString::compare(a.toString(), b.toString(), Qt::CaseInsensitive) < 0;
    };
    std::stable_sort(keyed.begin(), keyed.end(), [&](const auto &x, const auto &y) {
        return descending ? less(y.first, x.first) : less(x.first, y.first);
    });
    for (size_t i = 0; i < keyed.size(); ++i)
        m_items[i] = keyed[i].second;
}

} // namespace hostmail
