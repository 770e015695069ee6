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
