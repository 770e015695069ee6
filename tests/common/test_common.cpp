#include "common/core/AddressList.h"
#include "common/core/ShortDate.h"

#include "support/QtPrinters.h"

#include <QLocale>

#include <gtest/gtest.h>

using namespace common;

TEST(AddressList, FirstAddressRequiredThenInOrder)
{
    EXPECT_FALSE(addressList("", "b@x", "c@x"));
    EXPECT_EQ(*addressList("a@x", "b@x", "c@x"), "a@x;b@x;c@x");
    EXPECT_EQ(*addressList("a@x", "", "c@x"), "a@x;c@x");
    EXPECT_EQ(*addressList(" a@x", "a@x", ""), " a@x;a@x");
}

TEST(ShortDate, AlwaysFourDigitYears)
{
    const QLocale before;
    for (const char *name : {"en_US", "de_DE", "fr_FR", "ja_JP"}) {
        QLocale::setDefault(QLocale(QLatin1String(name)));
        EXPECT_TRUE(shortDateFormat().contains("yyyy")) << name;
        EXPECT_TRUE(dateText(QDate(2026, 5, 10)).contains("2026")) << name;
    }
    QLocale::setDefault(before);
}
