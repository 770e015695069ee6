#include "hostmail/ical/ICalendar.h"

#include "support/Golden.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace hostmail;

TEST(ICalendar, YearlyEventMatchesItsGoldenFile)
{
    const QByteArray ics = yearlyEventCalendar(QStringLiteral("cheerpost-0123456789abcdef01234567-birthday"),
                                               QStringLiteral("Anna Berg's Birthday"), QDate(1985, 3, 14));
    EXPECT_TRUE(matchesGolden(stableCalendar(ics), "yearly-event.ics.ref"));
}

TEST(ICalendar, EventsOfAFileAreReadBack)
{
    const QByteArray ics =
        yearlyEventCalendar(QStringLiteral("u1"), QStringLiteral("Tom's Anniversary"), QDate(2000, 6, 2));
    const QList<CalendarEvent> events = readCalendarEvents(ics);
    ASSERT_EQ(events.size(), 1);
    EXPECT_EQ(events.first().subject, "Tom's Anniversary");
    EXPECT_EQ(events.first().start, QDateTime(QDate(2000, 6, 2), QTime(0, 0)));
}

TEST(ICalendar, ALeapDayOccasionHasAnEntryEveryYear)
{
    // Expanded by libical over eight years: 29 February in leap years and
    // 1 March, the day the greeting goes out, in the others.
    const QByteArray ics =
        yearlyEventCalendar(QStringLiteral("leap"), QStringLiteral("Leap's Birthday"), QDate(1992, 2, 29));
    EXPECT_TRUE(ics.contains("RRULE:FREQ=YEARLY;BYYEARDAY=60")) << ics.constData();
    EXPECT_EQ(occurrences(ics, QDate(2026, 1, 1), QDate(2033, 12, 31)),
              QList<QDate>({QDate(2026, 3, 1), QDate(2027, 3, 1), QDate(2028, 2, 29), QDate(2029, 3, 1),
                            QDate(2030, 3, 1), QDate(2031, 3, 1), QDate(2032, 2, 29), QDate(2033, 3, 1)}));
    // Any other day keeps the plain yearly rule.
    const QByteArray plain = yearlyEventCalendar(QStringLiteral("u"), QStringLiteral("s"), QDate(1985, 3, 14));
    EXPECT_EQ(occurrences(plain, QDate(2026, 1, 1), QDate(2027, 12, 31)),
              QList<QDate>({QDate(2026, 3, 14), QDate(2027, 3, 14)}));
}
