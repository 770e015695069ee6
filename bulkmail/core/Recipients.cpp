#include "bulkmail/core/Recipients.h"

namespace bulkmail {

std::optional<QString> modeRefusal(const BulkSettings &s)
{
    if (s.mode == RecipientMode::DistributionList && s.distList.isEmpty())
        return kNoListText;
    if (s.mode == RecipientMode::Category && s.category.isEmpty())
        return kNoCategoryText;
    return std::nullopt;
}

bool categoryMatches(const QString &contactCategories, const QString &category)
{
    return QString::compare(contactCategories, category, Qt::CaseInsensitive) == 0;
}

QString bulkSalutation(const BulkSettings &s, const QString &firstName)
{
    const QString text = s.salutationText().trimmed();
    const bool withName = s.mode == RecipientMode::AllContacts || !s.salutationCustom || s.printName;
    return withName ? text + QLatin1Char(' ') + firstName + QLatin1Char(',') : text + QLatin1Char(',');
}

} // namespace bulkmail
