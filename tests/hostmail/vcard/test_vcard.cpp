#include "hostmail/vcard/ContactData.h"
#include "hostmail/vcard/VCardFile.h"

#include <QFile>
#include <QStringEncoder>

#include <gtest/gtest.h>

using namespace hostmail;

namespace {

ContactData only(const QByteArray &bytes)
{
    auto file = VCardFile::fromBytes(QStringLiteral("x.vcf"), bytes);
    EXPECT_EQ(file->cards().size(), 1);
    return readContact(file->cards().value(0));
}

} // namespace

TEST(VCardRead, GoogleExportLabelsAnniversaryAndSpouse)
{
    const ContactData c = only("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Anna Berg\r\nN:Berg;Anna;;;\r\n"
                               "EMAIL;TYPE=INTERNET;TYPE=HOME:anna@example.org\r\n"
                               "EMAIL;TYPE=INTERNET:anna@work.example\r\nBDAY:1985-03-14\r\n"
                               "item1.X-ABDATE:2010-06-20\r\nitem1.X-ABLabel:_$!<Anniversary>!$_\r\n"
                               "item2.X-ABRELATEDNAMES:Tom\r\nitem2.X-ABLabel:_$!<Spouse>!$_\r\n"
                               "item3.X-ABRELATEDNAMES:Sam\r\nitem3.X-ABLabel:_$!<Child>!$_\r\n"
                               "item4.X-ABRELATEDNAMES:Mia\r\nitem4.X-ABLabel:_$!<Child>!$_\r\n"
                               "CATEGORIES:myContacts,Family\r\nEND:VCARD\r\n");
    EXPECT_EQ(c.firstName, "Anna");
    EXPECT_EQ(c.lastName, "Berg");
    EXPECT_EQ(c.emails, QStringList({"anna@example.org", "anna@work.example"}));
    EXPECT_EQ(c.birthday.date, QDate(1985, 3, 14));
    EXPECT_EQ(c.anniversary.date, QDate(2010, 6, 20));
    EXPECT_EQ(c.spouse, "Tom");
    EXPECT_EQ(c.children, "Sam, Mia");
    EXPECT_EQ(c.categories, "myContacts, Family");
}

TEST(VCardRead, AppleYearlessAndOutlookQuotedPrintable)
{
    const ContactData apple = only("BEGIN:VCARD\nVERSION:3.0\nN:Lind;Eva;;;\n"
                                   "BDAY;X-APPLE-OMIT-YEAR=1604:1604-02-29\nEND:VCARD\n");
    EXPECT_EQ(apple.birthday.date, QDate(2000, 2, 29));
    EXPECT_EQ(apple.birthday.form, DateForm::AppleNoYear);

    const ContactData outlook =
        only("BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=utf-8;ENCODING=QUOTED-PRINTABLE:M=C3=BCller;J=\r\n"
             "=C3=BCrgen\r\nEMAIL;PREF;INTERNET:j@example.de\r\nBDAY:19700101\r\n"
             "X-MS-SPOUSE;CHARSET=windows-1252:Ren\xe9"
             "e\r\nX-MS-ANNIVERSARY:19951224\r\nEND:VCARD\r\n");
    EXPECT_EQ(outlook.lastName, QString::fromUtf8("Müller"));
    EXPECT_EQ(outlook.firstName, QString::fromUtf8("Jürgen"));
    EXPECT_EQ(outlook.spouse, QString::fromUtf8("Renée"));
    EXPECT_EQ(outlook.birthday.date, QDate(1970, 1, 1));
    EXPECT_EQ(outlook.birthday.form, DateForm::Basic);
    EXPECT_EQ(outlook.anniversary.date, QDate(1995, 12, 24));
}

TEST(VCardRead, EvolutionNextcloudAndVersion4Forms)
{
    const ContactData evo = only("BEGIN:VCARD\nVERSION:3.0\nN:Ek;Ola;;;\nX-EVOLUTION-SPOUSE:Kari\n"
                                 "X-EVOLUTION-ANNIVERSARY:2001-05-05\nBDAY:1960-07-08T00:00:00Z\nEND:VCARD\n");
    EXPECT_EQ(evo.spouse, "Kari");
    EXPECT_EQ(evo.anniversary.date, QDate(2001, 5, 5));
    EXPECT_EQ(evo.birthday.date, QDate(1960, 7, 8));

    const ContactData v4 = only("BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Li Wei\r\nN:Li;Wei;;;\r\nBDAY:--0412\r\n"
                                "ANNIVERSARY:20120901\r\nRELATED;TYPE=spouse;VALUE=text:Chen\r\n"
                                "RELATED;TYPE=child:urn:uuid:abc\r\nRELATED;TYPE=child;VALUE=text:Bo\r\n"
                                "NOTE:a\\, b\\nc\r\nEND:VCARD\r\n");
    EXPECT_EQ(v4.birthday.date, QDate(2000, 4, 12));
    EXPECT_EQ(v4.birthday.form, DateForm::YearlessBasic);
    EXPECT_EQ(v4.anniversary.date, QDate(2012, 9, 1));
    EXPECT_EQ(v4.spouse, "Chen");
    EXPECT_EQ(v4.children, "Bo");
}

TEST(VCardRead, UnsetAndBrokenDatesReadAsNoDate)
{
    for (const char *bday : {"BDAY;VALUE=text:circa 1800", "BDAY:", "BDAY:1985-02-30", "BDAY:garbage"}) {
        const ContactData c = only(QByteArray("BEGIN:VCARD\nVERSION:3.0\nN:A;B;;;\n") + bday + "\nEND:VCARD\n");
        EXPECT_EQ(c.birthday.date, noDateValue()) << bday;
    }
}

TEST(VCardRead, FoldedLinesEscapesAndSeveralCardsAFile)
{
    auto file =
        VCardFile::fromBytes(QStringLiteral("x.vcf"), "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Long;Na\r\n me;;;\r\nFN:x\r\n"
                                                      "CATEGORIES:Work\\,Home,Golf\r\nEND:VCARD\r\n"
                                                      "garbage between cards\r\n"
                                                      "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Two;Second;;;\r\nEND:VCARD\r\n"
                                                      "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Cut;Off;;;\r\n");
    ASSERT_EQ(file->cards().size(), 2); // the unterminated third card is not offered
    const ContactData first = readContact(file->cards().at(0));
    EXPECT_EQ(first.firstName, "Name");
    EXPECT_EQ(first.categories, "Work,Home, Golf");
    EXPECT_EQ(readContact(file->cards().at(1)).lastName, "Two");
}

TEST(VCardRead, GroupCardsOfEachExporterAreLists)
{
    for (const char *marker : {"KIND:group", "X-ADDRESSBOOKSERVER-KIND:group", "X-EVOLUTION-LIST:TRUE"}) {
        const ContactData c = only(QByteArray("BEGIN:VCARD\nVERSION:3.0\nFN:Family\n") + marker +
                                   "\nMEMBER:urn:uuid:1234\nEMAIL:x@example.org\nEND:VCARD\n");
        EXPECT_TRUE(c.isGroup) << marker;
        EXPECT_FALSE(c.members.isEmpty()) << marker;
    }
}

TEST(VCardDate, WritesBackInTheCardsOwnForm)
{
    EXPECT_EQ(formatVCardDate(QDate(2000, 4, 12), DateForm::YearlessBasic), "--0412");
    EXPECT_EQ(formatVCardDate(QDate(2000, 4, 12), DateForm::YearlessExtended), "--04-12");
    EXPECT_EQ(formatVCardDate(QDate(2000, 2, 29), DateForm::AppleNoYear), "1604-02-29");
    EXPECT_EQ(formatVCardDate(QDate(2026, 4, 12), DateForm::YearlessBasic), "20260412");
    EXPECT_EQ(formatVCardDate(QDate(1985, 3, 14), DateForm::Basic), "19850314");
    EXPECT_EQ(formatVCardDate(QDate(1985, 3, 14), DateForm::Extended), "1985-03-14");
}

TEST(VCardFold, LongLinesFoldWithoutSplittingCharacters)
{
    const QByteArray line = "NOTE:" + QString(40, QChar(0x00E9)).toUtf8();
    const QByteArray folded = foldLine(line, "\r\n");
    for (const QByteArray &part : folded.split('\n'))
        EXPECT_LE(part.size(), 76);
    auto file = VCardFile::fromBytes(QStringLiteral("x.vcf"), "BEGIN:VCARD\r\n" + folded + "\r\nEND:VCARD\r\n");
    EXPECT_EQ(file->cards().at(0).lines.at(0).value(), QString(40, QChar(0x00E9)));
}

TEST(VCardRead, AnEmailValueIsOneMailboxOrNoAddressAtAll)
{
    // Escaped (3.0) and unescaped (2.1) lists, a group and a list's name each
    // leave their slot empty, so they add no recipient and name no list.
    const ContactData c = only("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Friend;Fred;;;\r\n"
                               "EMAIL:friend@example.org\\, evil@example.net\r\n"
                               "EMAIL;TYPE=work:Fred Friend <fred@work.example>\r\n"
                               "EMAIL:friend@example.org\\; evil@example.net\r\n"
                               "EMAIL:Family\r\nEND:VCARD\r\n");
    EXPECT_EQ(c.emails, QStringList({"", "Fred Friend <fred@work.example>", ""}));
    const ContactData old = only("BEGIN:VCARD\r\nVERSION:2.1\r\nN:Friend;Fred\r\n"
                                 "EMAIL;INTERNET:friend@example.org, evil@example.net\r\n"
                                 "EMAIL;INTERNET:Family\r\nEMAIL;INTERNET:fred@example.org\r\nEND:VCARD\r\n");
    EXPECT_EQ(old.emails, QStringList({"", "", "fred@example.org"}));
    // An empty first line keeps its slot too: the second address never moves up.
    const ContactData empty = only("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Friend;Fred;;;\r\nEMAIL:\r\n"
                                   "EMAIL:fred@example.org\r\nEND:VCARD\r\n");
    EXPECT_EQ(empty.emails, QStringList({"", "fred@example.org"}));

    for (const char *good : {"a@b.example", "first.last+tag@sub.example.org", "\"Smith, J\" <j@x.example>",
                             "mailto:a@b.example", "j\xc3\xb6rg@b\xc3\xbc\x63her.example", "x@[192.0.2.1]"})
        EXPECT_TRUE(isSingleMailbox(QString::fromUtf8(good))) << good;
    for (const char *bad : {"Family", "a@b, c@d", "a@b; c@d", "Family: a@b;", "Smith, J <j@x.example>", "a@@b", "a b@c",
                            ".a@b", "a@b.", "<a@b> c", "a@b\r\nBcc: c@d", ""})
        EXPECT_FALSE(isSingleMailbox(QString::fromUtf8(bad))) << bad;
}

namespace {

QByteArray fixture(const char *name)
{
    QFile f(QStringLiteral(TEST_DATA_DIR "/") + QLatin1String(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

namespace {

QByteArray quotedPrintable(const QByteArray &bytes)
{
    QByteArray out;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        out +=
            u >= 0x80 || c == '=' ? "=" + QByteArray::number(u, 16).toUpper().rightJustified(2, '0') : QByteArray(1, c);
    }
    return out;
}

} // namespace

TEST(VCardRead, UndeclaredEightBitNamesReadInTheirCodePagePlainAndQuotedPrintable)
{
    // Short names as exporters in each code page wrote them, without a
    // CHARSET: once as 8-bit bytes (3.0), once inside quoted-printable (2.1).
    struct Name {
        const char *codePage, *first, *last;
    };
    const Name names[] = {
        {"windows-1252", "Begoña", "Muñoz"},     // one rare letter is no evidence against windows-1252
        {"windows-1252", "François", "Lefèvre"}, //
        {"windows-1252", "Jürgen", "Groß"},      //
        {"ISO-8859-1", "Søren", "Åström"},       //
        {"ISO-8859-15", "Laëtitia", "Bœuf"},     // œ is "½" in windows-1252
        {"windows-1250", "Jędrzej", "Łukaszewicz-Żółtowska"},
        {"windows-1250", "Jiří", "Šťastný"},     // ť is undefined in windows-1252
        {"windows-1250", "Łucja", "Iksiński"},   // ń alone would read as ñ; Ł tells
        {"ISO-8859-2", "Łucja", "Ślązak"},       // Ś and ą are symbols in windows-1250
        {"ISO-8859-2", "Ctibor", "Šťastný"},     //
        {"windows-1251", "Александр", "Пушкин"}, // Cyrillic read as Western makes words of accents
        {"KOI8-R", "Наталья", "Гончарова"},      //
    };
    for (const Name &n : names) {
        QStringEncoder encoder(n.codePage);
        ASSERT_TRUE(encoder.isValid()) << n.codePage;
        const QByteArray first = encoder.encode(QString::fromUtf8(n.first));
        const QByteArray last = encoder.encode(QString::fromUtf8(n.last));
        const QByteArray plain = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:" + last + ";" + first + ";;;\r\nFN:" + first + " " +
                                 last + "\r\nEMAIL:x@example.org\r\nEND:VCARD\r\n";
        const QByteArray qp = "BEGIN:VCARD\r\nVERSION:2.1\r\nN;ENCODING=QUOTED-PRINTABLE:" + quotedPrintable(last) +
                              ";" + quotedPrintable(first) +
                              ";;;\r\nFN;ENCODING=QUOTED-PRINTABLE:" + quotedPrintable(first + " " + last) +
                              "\r\nEMAIL;INTERNET:x@example.org\r\nEND:VCARD\r\n";
        for (const QByteArray &bytes : {plain, qp}) {
            const ContactData c = only(bytes);
            EXPECT_EQ(c.firstName, QString::fromUtf8(n.first)) << n.codePage << " " << bytes.constData();
            EXPECT_EQ(c.lastName, QString::fromUtf8(n.last)) << n.codePage << " " << bytes.constData();
        }
    }
    // A name declared in its charset is read in it, whatever the other values say.
    const ContactData declared = only("BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=windows-1250;ENCODING=QUOTED-PRINTABLE:"
                                      "Wi=F1ska;Agnieszka\r\nNOTE;ENCODING=QUOTED-PRINTABLE:Se=F1or\r\nEND:VCARD\r\n");
    EXPECT_EQ(declared.lastName, QString::fromUtf8("Wińska"));
}

TEST(VCardRead, TheCodePageIsToldByTheWholeFileNotOneCard)
{
    // The first card's only 8-bit letter reads both ways; the file's other
    // cards tell windows-1250.
    QByteArray file;
    const char *const people[][2] = {{"Iksi\xF1ski", "Jan"},
                                     {"\xA3ukasz", "Piotr"},
                                     {"Kowalska", "\xA3"
                                                  "ucja"}};
    for (const auto &p : people)
        file += QByteArray("BEGIN:VCARD\r\nVERSION:2.1\r\nN;ENCODING=QUOTED-PRINTABLE:") + quotedPrintable(p[0]) + ";" +
                quotedPrintable(p[1]) + "\r\nEND:VCARD\r\n";
    auto vcf = VCardFile::fromBytes(QStringLiteral("x.vcf"), file);
    ASSERT_EQ(vcf->cards().size(), 3);
    EXPECT_EQ(readContact(vcf->cards().first()).lastName, QString::fromUtf8("Iksiński"));
    EXPECT_EQ(vcf->fileBytes(), file);
}

TEST(VCardRead, EveryExporterFormReadsItsFields)
{
    struct Form {
        const char *file;
        const char *first, *last, *email, *spouse;
        QDate birthday, anniversary;
    };
    const QDate none = noDateValue();
    const Form forms[] = {
        {"utf8-bom.vcf", "Björn", "Åström", "bjorn@example.se", "", QDate(1975, 6, 2), none},
        {"utf16le-bom.vcf", "Jürgen", "Müller", "juergen@example.de", "", QDate(1970, 1, 1), none},
        {"utf16be-bom.vcf", "Jürgen", "Müller", "juergen@example.de", "", QDate(1970, 1, 1), none},
        {"cp1252-no-charset.vcf", "Günther", "Töcken", "guenther@example.de", "Änne", QDate(1966, 9, 30),
         QDate(1990, 5, 12)},
        {"text-bday-4.0.vcf", "Ada", "Lovelace", "ada@example.org", "", none, none},
        {"apple-1604-basic.vcf", "Eva", "Lind", "eva@example.org", "Jon", QDate(2000, 1, 1), QDate(2011, 8, 13)},
        {"kde-anniversary.vcf", "Ola", "Ek", "ola@example.no", "Kari", QDate(1968, 11, 2), QDate(2001, 5, 5)},
        {"windows-contacts-wab.vcf", "Marco", "Rossi", "marco@example.it", "Maria", QDate(1972, 3, 15),
         QDate(1998, 7, 4)},
        {"vcard21-quoted-printable.vcf", "Jürgen", "Müller", "juergen@example.de", "Renée", QDate(1970, 1, 1),
         QDate(1995, 12, 24)},
        {"vcard30-google.vcf", "Anna", "Berg", "anna@example.org", "Tom", QDate(1985, 3, 14), QDate(2010, 6, 20)},
        {"vcard40.vcf", "Wei", "Li", "wei@example.net", "Chen", QDate(2000, 4, 12), QDate(2012, 9, 1)},
        {"cp1250-no-charset.vcf", "Agnieszka", "Wińska", "agnieszka@example.pl", "", QDate(1979, 4, 23), none},
        {"utf16be-no-bom.vcf", "Zofia", "Kowalczyk", "zofia@example.pl", "Piotr", QDate(1982, 11, 5),
         QDate(2006, 6, 17)},
    };
    for (const Form &f : forms) {
        const QByteArray bytes = fixture(f.file);
        ASSERT_FALSE(bytes.isEmpty()) << f.file;
        auto file = VCardFile::fromBytes(QString::fromLatin1(f.file), bytes);
        ASSERT_EQ(file->cards().size(), 1) << f.file;
        const ContactData c = readContact(file->cards().first());
        EXPECT_EQ(c.firstName, QString::fromUtf8(f.first)) << f.file;
        EXPECT_EQ(c.lastName, QString::fromUtf8(f.last)) << f.file;
        EXPECT_EQ(c.emails.value(0), QString::fromUtf8(f.email)) << f.file;
        EXPECT_EQ(c.spouse, QString::fromUtf8(f.spouse)) << f.file;
        EXPECT_EQ(c.birthday.date, f.birthday) << f.file;
        EXPECT_EQ(c.anniversary.date, f.anniversary) << f.file;
        EXPECT_EQ(file->fileBytes(), bytes) << f.file; // read and written back, byte for byte
    }
    EXPECT_EQ(VCardFile::fromBytes("x", fixture("utf16le-bom.vcf"))->encoding(), FileEncoding::Utf16LE);
    EXPECT_EQ(VCardFile::fromBytes("x", fixture("utf8-bom.vcf"))->encoding(), FileEncoding::Utf8Bom);
    EXPECT_EQ(VCardFile::fromBytes("x", fixture("utf16be-no-bom.vcf"))->encoding(), FileEncoding::Utf16BENoBom);
    // The same card as little-endian UTF-16 without a mark reads the same.
    const QString text = QString::fromUtf8(VCardFile::fromBytes("x", fixture("utf16be-no-bom.vcf"))->text());
    const QByteArray le(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    const auto little = VCardFile::fromBytes("x", le);
    EXPECT_EQ(little->encoding(), FileEncoding::Utf16LENoBom);
    EXPECT_EQ(readContact(little->cards().first()).firstName, "Zofia");
    EXPECT_EQ(little->fileBytes(), le);
}
