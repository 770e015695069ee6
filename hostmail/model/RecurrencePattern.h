#pragma once

#include <QDate>

namespace hostmail {

// How a task repeats.
struct RecurrencePattern {
    int RecurrenceType = 2; // olRecursMonthly
    int DayOfMonth = 1;
    int Interval = 1;
    QDate PatternStartDate;
};

} // namespace hostmail
