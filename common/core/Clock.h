#pragma once

#include <QDateTime>

namespace common {

// "Today" for the whole program. Tests fix it to stand on any day.
class Clock {
public:
    static QDateTime now();
    static QDate today() { return now().date(); }
    static void setFixed(const QDateTime &when); // an invalid value returns to the system clock
};

} // namespace common
