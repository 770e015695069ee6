#include "common/core/Clock.h"

namespace common {

namespace {
QDateTime &fixed()
{
    static QDateTime value;
    return value;
}
} // namespace

QDateTime Clock::now()
{
    return fixed().isValid() ? fixed() : QDateTime::currentDateTime();
}

void Clock::setFixed(const QDateTime &when)
{
    fixed() = when;
}

} // namespace common
