#pragma once

#include <QDate>
#include <QString>

#include <optional>

namespace common {
class Prompter;
}

namespace greetings {

// The last calendar day of date's month. An invalid date is reported in an
// exclamation box (when a prompter is given) and gives an invalid date.
QDate LastDayOfMonth(const QDate &date, common::Prompter *prompter = nullptr);

// Both ends inclusive, both in the run year; empty when end < start.
struct SendWindow {
    QDate start;
    QDate end;
};
SendWindow sendWindow(const QDate &today, bool explicitWindow, const QDate &from, const QDate &to);

struct Occasion {
    QDate date;   // in the run year
    QString text; // the date in the short date format
};
// Years 1901 to 2098 only; 29 February rolls to 1 March in a common run year.
std::optional<Occasion> occasionTest(const QDate &contactDate, int runYear, const SendWindow &window);

// The occasion date, or the calendar day before it with dayPrior (1 January
// gives 31 December of the year before; 29 February gives 28 February).
QDate deliveryDate(const QDate &contactDate, int runYear, bool dayPrior);

// The date (year, month, day) with day and month overflow rolling forward.
QDate rolledDate(int year, int month, int day);

} // namespace greetings
