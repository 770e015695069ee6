#pragma once

#include <QString>

#include <optional>

namespace common {

// A contact's address list: Email1;Email2;Email3 without the empty ones, the
// addresses as stored; none when Email1 is empty.
std::optional<QString> addressList(const QString &email1, const QString &email2, const QString &email3);

} // namespace common
