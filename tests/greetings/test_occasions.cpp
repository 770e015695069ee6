#include "greetings/core/Composition.h"
#include "greetings/core/Occasions.h"

#include <gtest/gtest.h>

using namespace greetings;

namespace {
bool qualifies(const QDate &contact, const SendWindow &w, int year = 2026)
{
    return occasionTest(contact, year, w).has_value();
}
} // namespace

TEST(SendWindow, DefaultRunsFromTodayToTheMonthsEnd)
{
    const SendWindow lastDay = sendWindow(QDate(2026, 4, 30), false, {}, {});
    EXPECT_EQ(lastDay.start, QDate(2026, 4, 30));
    EXPECT_EQ(lastDay.end, QDate(2026, 4, 30));
    EXPECT_TRUE(qualifies(QDate(1980, 4, 30), lastDay));
    EXPECT_FALSE(qualifies(QDate(1980, 4, 29), lastDay));
    const SendWindow first = sendWindow(QDate(2024, 2, 1), false, {}, {});
    EXPECT_EQ(first.end, QDate(2024, 2, 29));
    EXPECT_EQ(LastDayOfMonth(QDate(2026, 12, 8)), QDate(2026, 12, 31));
    EXPECT_EQ(LastDayOfMonth(QDate(2026, 2, 8)), QDate(2026, 2, 28));
    EXPECT_FALSE(LastDayOfMonth(QDate()).isValid());
}

TEST(SendWindow, ExplicitWindowUsesOnlyMonthAndDay)
{
    const SendWindow w = sendWindow(QDate(2026, 6, 1), true, QDate(2019, 3, 1), QDate(2030, 3, 31));
    EXPECT_EQ(w.start, QDate(2026, 3, 1));
    EXPECT_EQ(w.end, QDate(2026, 3, 31));
    const SendWindow across = sendWindow(QDate(2026, 6, 1), true, QDate(2026, 12, 20), QDate(2027, 1, 10));
    EXPECT_FALSE(qualifies(QDate(1970, 12, 24), across));
    EXPECT_FALSE(qualifies(QDate(1970, 1, 5), across));
}

TEST(OccasionTest, YearsAndLeapDays)
{
    const SendWindow march = {QDate(2026, 3, 1), QDate(2026, 3, 31)};
    EXPECT_FALSE(qualifies(QDate(1900, 3, 5), march));
    EXPECT_TRUE(qualifies(QDate(1901, 3, 5), march));
    EXPECT_TRUE(qualifies(QDate(2098, 3, 5), march));
    EXPECT_FALSE(qualifies(QDate(2099, 3, 5), march));
    EXPECT_FALSE(qualifies(QDate(4501, 1, 1), {QDate(2026, 1, 1), QDate(2026, 12, 31)}));
    // 29 February in a common year falls on 1 March; a day prior is 28 February.
    const auto leap = occasionTest(QDate(1992, 2, 29), 2026, march);
    ASSERT_TRUE(leap);
    EXPECT_EQ(leap->date, QDate(2026, 3, 1));
    EXPECT_EQ(deliveryDate(QDate(1992, 2, 29), 2026, true), QDate(2026, 2, 28));
    EXPECT_EQ(deliveryDate(QDate(1992, 2, 29), 2028, true), QDate(2028, 2, 28));
    EXPECT_EQ(deliveryDate(QDate(1980, 1, 1), 2026, true), QDate(2025, 12, 31));
    EXPECT_EQ(deliveryDate(QDate(1980, 3, 1), 2026, true), QDate(2026, 2, 28));
    EXPECT_EQ(deliveryDate(QDate(1980, 3, 14), 2026, false), QDate(2026, 3, 14));
}

TEST(Composition, SubjectsAndSalutations)
{
    OccasionSettings b = withSubject("Happy Birthday !");
    EXPECT_EQ(subjectLine(b, "3/14/2026"), "Happy Birthday ! - 3/14/2026");
    b.subjectCustom = true;
    b.subjectCust = "Cheers ";
    EXPECT_EQ(subjectLine(b, "3/14/2026"), "Cheers ");
    b.printDate = true;
    EXPECT_EQ(subjectLine(b, "3/14/2026"), "Cheers  - 3/14/2026");

    OccasionSettings a = withSubject("Happy Anniversary !");
    EXPECT_EQ(salutationLine(OccasionKind::Anniversary, a, "Tom", "Lisa"), "Dear Tom and Lisa,");
    EXPECT_EQ(salutationLine(OccasionKind::Anniversary, a, "Tom", ""), "Dear Tom,");
    EXPECT_EQ(salutationLine(OccasionKind::Birthday, a, "", "Lisa"), "Dear ,");
    a.salutationCustom = true;
    a.salutationCust = "  Hello friends  ";
    EXPECT_EQ(salutationLine(OccasionKind::Anniversary, a, "Tom", "Lisa"), "Hello friends,");
    a.printNames = true;
    EXPECT_EQ(salutationLine(OccasionKind::Anniversary, a, "Tom", "Lisa"), "Hello friends Tom and Lisa,");
}

TEST(Composition, BodyTagsMatchWithoutCase)
{
    EXPECT_EQ(composeBody("<html><body><p>x</p></Body></html>", "Dear Anna,", "PS: Lots of love to Sam, Mia"),
              "<html><BODY>Dear Anna,<p>x</p>PS: Lots of love to Sam, Mia</BODY></html>");
    EXPECT_EQ(composeBody("<body bgcolor=red>x</body>", "Dear Anna,", ""), "<body bgcolor=red>x</body>");
    EXPECT_EQ(composeBody("", "Dear Anna,", "PS"), "");
    EXPECT_EQ(childrenLine("PS: Lots of love to ", " Sam, Mia "), "PS: Lots of love to Sam, Mia");
    EXPECT_EQ(childrenLine("PS: Lots of love to ", ""), "");
}

TEST(Composition, ImageListAndAttachmentRepeats)
{
    EXPECT_EQ(attachmentPaths({"/p/a.gif", "/p/A.GIF", "/p/b;c.gif"}, ""), QStringList({"/p/a.gif", "/p/b;c.gif"}));
    EXPECT_EQ(attachmentPaths({"/p/a.gif", "/p/b.gif", "/p/a.gif"}, "/doc.pdf"),
              QStringList({"/p/a.gif", "/p/b.gif", "/p/a.gif", "/doc.pdf"}));
    EXPECT_TRUE(attachmentPaths({}, "").isEmpty());
}
