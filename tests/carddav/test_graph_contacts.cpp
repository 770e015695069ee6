#include "hostmail/carddav/GraphContacts.h"

#include "support/Golden.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

using namespace hostmail::carddav;

namespace {

QJsonObject documentedContact()
{
    QFile f(QStringLiteral(TEST_DATA_DIR "/graph/contact.json"));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return QJsonDocument::fromJson(f.readAll()).object();
}

} // namespace

TEST(GraphContacts, ADocumentedContactBecomesTheVCardTheRunsRead)
{
    EXPECT_TRUE(matchesGolden(vcardFromGraph(documentedContact()), "graph/contact.vcf.ref"));
    // Whole days kept at local midnight east and west of UTC are the same day.
    QJsonObject c{{"id", "x"}, {"displayName", "X"}, {"birthday", "1990-07-01T04:00:00Z"}};
    EXPECT_TRUE(vcardFromGraph(c).contains("\r\nBDAY:1990-07-01\r\n"));
    c.insert("birthday", "1990-06-30T22:00:00Z");
    EXPECT_TRUE(vcardFromGraph(c).contains("\r\nBDAY:1990-07-01\r\n"));
    c.insert("birthday", "not a date");
    EXPECT_FALSE(vcardFromGraph(c).contains("BDAY"));
    // A long name is folded, a line break in it never ends the line.
    c.insert("displayName", QString(80, QLatin1Char('a')) + "\r\nEND:VCARD");
    const QByteArray card = vcardFromGraph(c);
    EXPECT_TRUE(card.contains("\r\n a"));
    EXPECT_EQ(card.count("END:VCARD"), 2); // the escaped text and the card's own end
    EXPECT_TRUE(card.endsWith("\r\nEND:VCARD\r\n"));
    EXPECT_TRUE(vcardFromGraph(QJsonObject{{"displayName", "no id"}}).isEmpty());
}

TEST(GraphContacts, OnlyTheDatesChangedHereGoBack)
{
    const QByteArray seen = vcardFromGraph(documentedContact());
    EXPECT_TRUE(graphDatesPatch(seen, seen).isEmpty());
    QByteArray local = seen;
    local.replace("BDAY:1984-03-14", "BDAY:1984-03-15");
    local.replace("X-SPOUSE:Clara Berg", "X-SPOUSE:Someone else");
    EXPECT_EQ(graphDatesPatch(seen, local), (QJsonObject{{"birthday", "1984-03-15T11:59:00Z"}}));
    local.replace("X-ANNIVERSARY:2010-06-18", "X-ANNIVERSARY:2011-06-18");
    const QJsonObject both = graphDatesPatch(seen, local);
    EXPECT_EQ(both.value("singleValueExtendedProperties").toArray(),
              (QJsonArray{QJsonObject{{"id", "SystemTime 0x3A41"}, {"value", "2011-06-18T11:59:00Z"}}}));
    // A date removed here is not removed there.
    local = seen;
    local.replace("BDAY:1984-03-14\r\n", "");
    EXPECT_TRUE(graphDatesPatch(seen, local).isEmpty());
}
