#pragma once

#include <QDate>
#include <QString>

namespace common {

// The user's short date format with a four-digit year: the one form in which
// the program shows or stores a date as text.
QString shortDateFormat();
QString dateText(const QDate &date);

} // namespace common
