#pragma once

#include <QString>

// Writes a deterministic vdir address book of n contacts into folder: vCard
// 2.1, 3.0 and 4.0 forms as real exporters write them, birthdays and
// anniversaries spread over the year, non-ASCII names, and a group every 500.
void generateAddressBook(const QString &folder, int n);
