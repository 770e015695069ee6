#include "greetings/core/Occasions.h"

#include "common/core/Prompter.h"
#include "common/core/ShortDate.h"

namespace greetings {

QDate rolledDate(int year, int month, int day)
{
    // Months first, then days, as a date serial would: (2026, 2, 29) is 1 March.
    const int months = year * 12 + (month - 1);
    const QDate first(months / 12, months % 12 + 1, 1);
    return first.addDays(day - 1);
}

QDate LastDayOfMonth(const QDate &date, common::Prompter *prompter)
{
    if (!date.isValid()) {
        if (prompter)
            prompter->tell(common::kAppTitle, QStringLiteral("Invalid date"), common::MessageIcon::Exclamation);
        return {};
    }
    return rolledDate(date.year(), date.month() + 1, 1).addDays(-1);
}

SendWindow sendWindow(const QDate &today, bool explicitWindow, const QDate &from, const QDate &to)
{
    const QDate f = explicitWindow ? from : today;
    const QDate t = explicitWindow ? to : LastDayOfMonth(today);
    const int year = today.year();
    return {rolledDate(year, f.month(), f.day()), rolledDate(year, t.month(), t.day())};
}

std::optional<Occasion> occasionTest(const QDate &contactDate, int runYear, const SendWindow &window)
{
    if (!contactDate.isValid() || contactDate.year() <= 1900 || contactDate.year() >= 2099)
        return std::nullopt;
    const QDate d = rolledDate(runYear, contactDate.month(), contactDate.day());
    if (d < window.start || d > window.end)
        return std::nullopt;
    return Occasion{d, common::dateText(d)};
}

QDate deliveryDate(const QDate &contactDate, int runYear, bool dayPrior)
{
    return rolledDate(runYear, contactDate.month(), contactDate.day() - (dayPrior ? 1 : 0));
}

} // namespace greetings
