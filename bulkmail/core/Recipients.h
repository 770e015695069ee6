#pragma once

#include "bulkmail/core/BulkSettings.h"

#include <QStringList>

#include <optional>

namespace bulkmail {

inline const QString kNoListText = QStringLiteral("Please enter a Distribution List to proceed.");
inline const QString kNoCategoryText =
    QStringLiteral("Please enter a valid Contact Category that exists in MS Outlook to proceed.");

// The refusal text for an empty list name or category, or none.
std::optional<QString> modeRefusal(const BulkSettings &s);

// The whole category text equals the typed one, letter case ignored.
bool categoryMatches(const QString &contactCategories, const QString &category);

// The salutation line of one contact in a contact mode.
QString bulkSalutation(const BulkSettings &s, const QString &firstName);

} // namespace bulkmail
