#include "shell/core/Clock.h"

namespace shell {

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

} // namespace shell
