#include "greetings/core/Occasions.h"

#include "shell/core/Prompter.h"

#include <QLocale>

namespace greetings {

QDate rolledDate(int year, int month, int day)
{
    // Months first, then days, as a date serial would: (2026, 2, 29) is 1 March.
    const int months = year * 12 + (month - 1);
    const QDate first(months / 12, months % 12 + 1, 1);
    return first.addDays(day - 1);
}

QDate LastDayOfMonth(const QDate &date, shell::Prompter *prompter)
{
    if (!date.isValid()) {
        if (prompter)
            prompter->tell(shell::kAppTitle, QStringLiteral("Invalid date"), shell::MessageIcon::Exclamation);
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

QString shortDateFormat()
{
    QString format = QLocale::system().dateFormat(QLocale::ShortFormat);
    if (!format.contains(QLatin1String("yyyy")))
        format.replace(QLatin1String("yy"), QLatin1String("yyyy"));
    return format;
}

QString dateText(const QDate &date)
{
    return QLocale::system().toString(date, shortDateFormat());
}

std::optional<Occasion> occasionTest(const QDate &contactDate, int runYear, const SendWindow &window)
{
    if (!contactDate.isValid() || contactDate.year() <= 1900 || contactDate.year() >= 2099)
        return std::nullopt;
    const QDate d = rolledDate(runYear, contactDate.month(), contactDate.day());
    if (d < window.start || d > window.end)
        return std::nullopt;
    return Occasion{d, dateText(d)};
}

std::optional<QString> addressList(const QString &email1, const QString &email2, const QString &email3)
{
    if (email1.isEmpty())
        return std::nullopt;
    QString list = email1;
    if (!email2.isEmpty())
        list += QLatin1Char(';') + email2;
    if (!email3.isEmpty())
        list += QLatin1Char(';') + email3;
    return list;
}

QDate deliveryDate(const QDate &contactDate, int runYear, bool dayPrior)
{
    return rolledDate(runYear, contactDate.month(), contactDate.day() - (dayPrior ? 1 : 0));
}

} // namespace greetings
