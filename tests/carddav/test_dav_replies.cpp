// Replies of real CardDAV servers (Radicale, xandikos), captured from them,
// and hostile ones, read as the sync reads them; pinned by golden files.
#include "hostmail/carddav/DavReplies.h"
#include "support/Golden.h"

#include <QDir>

using namespace hostmail::carddav;

namespace {

QByteArray described(const Multistatus &m)
{
    QByteArray out = "valid: " + QByteArray(m.valid ? "yes" : "no") + "\nsync-token: " + m.syncToken.toUtf8() + "\n";
    for (const DavResponse &d : m.responses) {
        out += "response " + d.href.toUtf8() + "\n";
        const auto field = [&out](const char *name, const QString &value) {
            if (!value.isEmpty())
                out += QByteArray("  ") + name + ": " + value.toUtf8() + "\n";
        };
        field("status", d.status);
        field("etag", d.etag);
        field("principal", d.principal);
        field("home", d.home);
        field("display-name", d.displayName);
        if (d.addressBook)
            out += "  address book\n";
        if (!d.addressData.isNull()) {
            out += "  address-data" + QByteArray(looksLikeVCard(d.addressData) ? "" : " (not a vCard)") + ":\n";
            out += "    " + QByteArray(d.addressData).replace("\r\n", "\\r\\n\n    ").trimmed() + "\n";
        }
    }
    return out;
}

} // namespace

TEST(DavReplies, EachCapturedReplyReadsAsItsGoldenFile)
{
    const QDir folder(QStringLiteral(TEST_DATA_DIR "/carddav"));
    const QStringList replies = folder.entryList({QStringLiteral("*.xml")}, QDir::Files, QDir::Name);
    ASSERT_GE(replies.size(), 10);
    for (const QString &name : replies) {
        QFile f(folder.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
        const QByteArray golden = "carddav/" + name.toUtf8() + ".ref";
        EXPECT_TRUE(matchesGolden(described(parseMultistatus(f.readAll())), golden.constData()));
    }
}

TEST(DavReplies, TheProgramsChangeGoesOntoTheServersNewerCardUnlessItTouchedTheSameLine)
{
    const QByteArray seen = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\nBDAY:1980-05-01\r\nREV:20260101T000000Z\r\n"
                            "item1.X-ANNIVERSARY:2001-06-0\r\n 2\r\nEND:VCARD\r\n";
    const QByteArray ours = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\nBDAY:1980-05-11\r\nREV:20261208T100000Z\r\n"
                            "item1.X-ANNIVERSARY:2001-06-0\r\n 2\r\nEND:VCARD\r\n";
    // The server reordered, refolded and changed another line; it moved REV.
    const QByteArray theirs = "BEGIN:VCARD\r\nVERSION:3.0\r\nREV:20261207T090000Z\r\nFN:Ann\r\nTEL:222\r\n"
                              "BDAY:1980-05-01\r\nitem1.X-ANNIVERSARY:2001-06-02\r\nEND:VCARD\r\n";
    EXPECT_EQ(reapplyChange(seen, ours, theirs),
              "BEGIN:VCARD\r\nVERSION:3.0\r\nREV:20261208T100000Z\r\nFN:Ann\r\nTEL:222\r\nBDAY:1980-05-11\r\n"
              "item1.X-ANNIVERSARY:2001-06-02\r\nEND:VCARD\r\n");

    // A date the program did not have before goes in before END.
    const QByteArray added = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\nBDAY:1980-05-01\r\nREV:20260101T000000Z\r\n"
                             "item1.X-ANNIVERSARY:2001-06-0\r\n 2\r\nANNIVERSARY:2001-06-02\r\nEND:VCARD\r\n";
    EXPECT_EQ(reapplyChange(seen, added, theirs),
              "BEGIN:VCARD\r\nVERSION:3.0\r\nREV:20261207T090000Z\r\nFN:Ann\r\nTEL:222\r\nBDAY:1980-05-01\r\n"
              "item1.X-ANNIVERSARY:2001-06-02\r\nANNIVERSARY:2001-06-02\r\nEND:VCARD\r\n");

    // The server changed the very date: nothing is merged.
    QByteArray sameLine = theirs;
    sameLine.replace("BDAY:1980-05-01", "BDAY:1980-07-07");
    EXPECT_TRUE(reapplyChange(seen, ours, sameLine).isEmpty());
}

TEST(DavReplies, MergesThatAddRemoveAndChangeSeveralLinesOnBothSidesMakeAWholeCard)
{
    const QByteArray seen = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\nBDAY:1980-05-01\r\nNOTE:old\r\n"
                            "X-A:1\r\nX-B:2\r\nEND:VCARD\r\n";
    // Here: two dates changed, a note gone, three lines added.
    const QByteArray ours = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\nBDAY:1980-05-11\r\nX-A:1\r\nX-B:3\r\n"
                            "ANNIVERSARY:2001-06-02\r\nX-C:long "
                            "value that is folded by the library because it is longer than seventy-five octets\r\n"
                            "X-D:4\r\nEND:VCARD\r\n";
    // There: lines added before and after, one line removed that we did not touch.
    const QByteArray theirs = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:u1\r\nFN:Ann\r\nTEL:1\r\nBDAY:1980-05-01\r\n"
                              "NOTE:old\r\nX-B:2\r\nEMAIL:a@example.org\r\nEND:VCARD\r\n";
    // X-A was removed on the server and kept here unchanged: it stays removed.
    const QByteArray merged = reapplyChange(seen, ours, theirs);
    EXPECT_TRUE(matchesGolden(merged, "carddav/merge-several-lines.vcf.ref"));
    EXPECT_TRUE(looksLikeVCard(merged));
    // Many lines added at once, into a card with LF line ends.
    QByteArray many = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\n";
    for (int i = 0; i < 40; ++i)
        many += "X-N" + QByteArray::number(i) + ":v\r\n";
    many += "END:VCARD\r\n";
    const QByteArray plain = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\nEND:VCARD\r\n";
    QByteArray lf = plain;
    lf.replace("\r\n", "\n");
    QByteArray expected = many;
    expected.replace("\r\n", "\n");
    EXPECT_EQ(reapplyChange(plain, many, lf), expected);
    // Both sides removed the same line: nothing is there to change.
    EXPECT_TRUE(reapplyChange(seen, ours, QByteArray(theirs).replace("BDAY:1980-05-01\r\n", "")).isEmpty());
}

TEST(DavReplies, OnlyAWholeCardIsAVCard)
{
    EXPECT_TRUE(looksLikeVCard("BEGIN:VCARD\nVERSION:4.0\nFN:A\nEND:VCARD\n"));
    EXPECT_TRUE(looksLikeVCard("begin:vcard\r\nFN:A\r\nend:vcard"));
    for (const char *bad : {"", "BEGIN:VCARD\r\nFN:A\r\n", "<html>Not found</html>", "BEGIN:VCALENDAR\r\nEND:VCALENDAR",
                            "FN:A\r\nBEGIN:VCARD\r\nEND:VCARD\r\n"})
        EXPECT_FALSE(looksLikeVCard(bad)) << bad;
    EXPECT_EQ(contactName("BEGIN:VCARD\r\nFN:Ann\r\n  Lee\r\nEND:VCARD\r\n", "x"), QStringLiteral("Ann Lee"));
    EXPECT_EQ(contactName("BEGIN:VCARD\r\nFN:\r\nEND:VCARD\r\n", "file.vcf"), QStringLiteral("file.vcf"));
}
