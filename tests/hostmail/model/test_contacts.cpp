#include "hostmail/HostError.h"
#include "hostmail/model/Application.h"
#include "hostmail/model/AppointmentItem.h"
#include "hostmail/model/ContactItem.h"
#include "hostmail/model/HostEnums.h"
#include "hostmail/model/MailItem.h"
#include "hostmail/model/TaskItem.h"
#include "hostmail/model/YearlyEvents.h"
#include "hostmail/store/WriteBatch.h"

#include "support/Golden.h"
#include "support/TempStore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QThread>

#include <optional>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace hostmail;

namespace {

Items contacts(const TempStore &s)
{
    return Application(s.paths).GetNamespace(QStringLiteral("MAPI")).GetDefaultFolder(olFolderContacts).items();
}

ContactItem &contact(const Items &items, int i)
{
    return dynamic_cast<ContactItem &>(items.at(i));
}

const QByteArray kMessy =
    "BEGIN:VCARD\n"
    "VERSION:3.0\n"
    "UID:messy-1\n"
    "N:Berg;Anna;;;\n"
    "X-UNKNOWN;odd=\"a:b\":keep me  \n"
    "PHOTO;ENCODING=b;TYPE=JPEG:AAAABBBBCCCCDDDDEEEEFFFFGGGGHHHHIIIIJJJJKKKKLLLLMMMMNNNNOOOOPPPPQQQQ\n"
    " RRRRSSSS\n"
    "BDAY;VALUE=date:19850314\n"
    "NOTE:trailing blanks stay   \n"
    "END:VCARD\n";

} // namespace

TEST(ContactSave, RewritesOnlyTheDateLineAndKeepsEveryOtherByte)
{
    TempStore s;
    s.addCard(QStringLiteral("anna.vcf"), kMessy);
    Items items = contacts(s);
    ASSERT_EQ(items.Count(), 1);
    ContactItem &c = contact(items, 0);
    EXPECT_EQ(c.Birthday(), QDate(1985, 3, 14));
    c.setBirthday(QDate(1985, 3, 15));
    c.Save();
    QByteArray expected = kMessy;
    expected.replace("BDAY;VALUE=date:19850314\n", "BDAY:19850315\n");
    EXPECT_EQ(s.read(s.contactFile("anna.vcf")), expected);

    // Adding an anniversary inserts one line before END; clearing removes it again.
    c.setAnniversary(QDate(2010, 6, 20));
    c.Save();
    QByteArray withAnniversary = expected;
    withAnniversary.replace("END:VCARD\n", "X-ANNIVERSARY:2010-06-20\nEND:VCARD\n");
    EXPECT_EQ(s.read(s.contactFile("anna.vcf")), withAnniversary);
    c.setAnniversary(noDateValue());
    c.Save();
    EXPECT_EQ(s.read(s.contactFile("anna.vcf")), expected);
}

TEST(ContactSave, YearlessDatesStayYearlessAndOtherCardsOfTheFileStay)
{
    TempStore s;
    const QByteArray two = "BEGIN:VCARD\r\nVERSION:4.0\r\nUID:a\r\nN:A;Ann;;;\r\nBDAY:--0412\r\nEND:VCARD\r\n"
                           "BEGIN:VCARD\r\nVERSION:4.0\r\nUID:b\r\nN:B;Bob;;;\r\nBDAY:--0101\r\nEND:VCARD\r\n";
    s.addCard(QStringLiteral("two.vcf"), two);
    Items items = contacts(s);
    ContactItem &ann = contact(items, 0);
    ann.setBirthday(QDate(2026, 4, 12));
    ann.setBirthday(QDate(2000, 4, 12));
    ann.Save();
    EXPECT_EQ(s.read(s.contactFile("two.vcf")), two);
    ann.setAnniversary(QDate(2001, 1, 1));
    ann.Save();
    EXPECT_TRUE(s.read(s.contactFile("two.vcf"))
                    .contains("ANNIVERSARY:2001-01-01\r\nEND:VCARD\r\nBEGIN:VCARD\r\nVERSION:4.0\r\nUID:b"));
}

TEST(ContactSave, MaintainsOneYearlyEventPerOccasion)
{
    TempStore s;
    s.addCard(QStringLiteral("anna.vcf"), kMessy);
    Items items = contacts(s);
    ContactItem &c = contact(items, 0);
    c.Save();
    c.Save();
    const QString birthday = s.paths.calendar + "/" + YearlyEvents::eventUid("messy-1", "birthday") + ".ics";
    ASSERT_EQ(s.files(s.paths.calendar), QStringList{birthday});
    const QByteArray ics = s.read(birthday);
    EXPECT_TRUE(ics.contains("RRULE:FREQ=YEARLY"));
    EXPECT_TRUE(ics.contains("DTSTART;VALUE=DATE:19850314"));
    EXPECT_TRUE(ics.contains("SUMMARY:Anna Berg's Birthday") || ics.contains("SUMMARY:Anna Berg"));

    const Items calendar = Application(s.paths).GetNamespace("MAPI").GetDefaultFolder(olFolderCalendar).items();
    ASSERT_EQ(calendar.Count(), 1);
    EXPECT_EQ(calendar.at(0).TypeName(), "AppointmentItem");

    c.setBirthday(noDateValue());
    c.Save();
    EXPECT_TRUE(s.files(s.paths.calendar).isEmpty());
}

TEST(ContactSave, FailuresLeaveTheFileAsItWas)
{
    TempStore s;
    s.addCard(QStringLiteral("anna.vcf"), kMessy);
    Items items = contacts(s);
    ContactItem &c = contact(items, 0);

    // Another program replaced the card meanwhile: nothing is overwritten.
    const QByteArray other = "BEGIN:VCARD\nVERSION:3.0\nUID:someone-else\nN:X;Y;;;\nEND:VCARD\n";
    s.addCard(QStringLiteral("anna.vcf"), other);
    c.setBirthday(QDate(1990, 1, 1));
    EXPECT_THROW(c.Save(), HostError);
    EXPECT_EQ(s.read(s.contactFile("anna.vcf")), other);

    if (::geteuid() != 0) { // root writes anywhere
        s.addCard(QStringLiteral("anna.vcf"), kMessy);
        ::chmod(s.paths.contacts.toLocal8Bit().constData(), 0555);
        EXPECT_THROW(c.Save(), HostError);
        ::chmod(s.paths.contacts.toLocal8Bit().constData(), 0755);
        EXPECT_EQ(s.read(s.contactFile("anna.vcf")), kMessy);
    }
}

TEST(Folders, ItemsCountSortTypesAndSaveAs)
{
    TempStore s;
    s.addCard(QStringLiteral("1.vcf"), card("Zoe", "Young"));
    s.addCard(QStringLiteral("2.vcf"), "BEGIN:VCARD\nVERSION:4.0\nKIND:group\nFN:Family\nEND:VCARD\n");
    s.addCard(QStringLiteral("3.vcf"), card("Al", "Adams"));
    s.write(s.paths.notes + "/n1.txt", "Shopping\nmilk\n");
    s.write(s.paths.notes + "/n2.txt", "Call Bob\r\n");
    Items items = contacts(s);
    ASSERT_EQ(items.Count(), 3);
    EXPECT_EQ(items.at(1).TypeName(), "DistListItem");
    items.Sort(QStringLiteral("[LastName]"));
    EXPECT_EQ(items.at(0).TypeName(), "DistListItem"); // no last name sorts first
    EXPECT_EQ(contact(items, 1).LastNameAndFirstName(), "Adams, Al");
    EXPECT_THROW(items.Sort(QStringLiteral("[Nope]")), HostError);

    const QString out = s.dir.path() + "/adams.vcf";
    contact(items, 1).SaveAs(out, olVCard);
    EXPECT_EQ(s.read(out), card("Al", "Adams"));
    EXPECT_THROW(contact(items, 1).SaveAs(out, olTXT), HostError);

    Items notes = Application(s.paths).GetNamespace("MAPI").GetDefaultFolder(olFolderNotes).items();
    notes.Sort(QStringLiteral("[Subject]"));
    EXPECT_EQ(notes.at(0).Subject(), "Call Bob");
    EXPECT_EQ(notes.at(1).TypeName(), "NoteItem");
    EXPECT_THROW(Application(s.paths).GetNamespace("OTHER"), HostError);
}

TEST(Tasks, MonthlyTaskIsAVtodoWithRecurrenceAndReminder)
{
    TempStore s;
    Application app(s.paths);
    auto task = app.CreateTaskItem();
    RecurrencePattern &p = task->GetRecurrencePattern();
    p.RecurrenceType = olRecursMonthly;
    p.DayOfMonth = 1;
    p.Interval = 1;
    p.PatternStartDate = QDate(2027, 1, 1);
    task->setStartDate(QDate(2027, 1, 1));
    task->setDueDate(QDate(2027, 1, 1));
    task->setSubject(QStringLiteral("Please launch Cheerpost to send Birthday / Anniversary emails"));
    task->setImportance(olImportanceHigh);
    task->setReminderSet(true);
    task->Save();
    const QByteArray ics = s.read(task->savedPath());
    EXPECT_TRUE(ics.contains("BEGIN:VTODO"));
    EXPECT_TRUE(ics.contains("RRULE:FREQ=MONTHLY;BYMONTHDAY=1"));
    EXPECT_TRUE(ics.contains("DTSTART;VALUE=DATE:20270101"));
    EXPECT_TRUE(ics.contains("PRIORITY:1"));
    EXPECT_TRUE(ics.contains("BEGIN:VALARM"));
    EXPECT_TRUE(ics.contains("SUMMARY:Please launch Cheerpost to send Birthday / Anniversary emails"));
}

TEST(Application, AStoreThatCannotBeMadeFailsToOpen)
{
    TempStore s;
    s.write(s.dir.path() + "/plainfile", "x");
    StorePaths bad = StorePaths::underRoot(s.dir.path() + "/plainfile");
    EXPECT_THROW(Application app(bad), HostError);
}

TEST(Application, MailSentInAnOpenBatchIsOnDiskBeforeTheAgentStarts)
{
    // The application's own batch, left open by a run that stopped early, and
    // a batch of the thread made before the application object, which
    // outlives it: either way the agent finds the message when it looks.
    for (const bool owned : {true, false}) {
        TempStore s;
        const QString agent = s.dir.path() + "/agent.sh", seen = s.dir.path() + "/seen.txt";
        s.write(agent, ("#!/bin/sh\nls '" + s.paths.outbox() + "/new' > '" + seen + ".tmp' && mv '" + seen + ".tmp' '" +
                        seen + "'\n")
                           .toUtf8());
        QFile::setPermissions(agent, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        s.paths.deliveryAgent = agent;
        std::optional<WriteBatch> outer;
        if (!owned)
            outer.emplace();
        {
            Application app(s.paths);
            if (owned)
                app.startBatch();
            auto mail = app.CreateMailItem();
            mail->setTo(QStringLiteral("anna@example.org"));
            mail->setSubject(QStringLiteral("Hi"));
            mail->setHTMLBody(QStringLiteral("<p>Hi</p>"));
            mail->Send();
        } // the agent starts here
        QElapsedTimer waited;
        waited.start();
        while (!QFile::exists(seen) && waited.elapsed() < 10000)
            QThread::msleep(20);
        EXPECT_EQ(s.read(seen).count('\n'), 1) << owned; // the message was there when it looked
        if (outer)
            outer->flush();
    }
}

TEST(Folders, ALargeFolderIsReadOnEveryCoreInFileOrder)
{
    TempStore s;
    const int n = 1200; // past the size from which the folder is read in parallel
    for (int i = 0; i < n; ++i)
        s.addCard(QStringLiteral("c%1.vcf").arg(i, 4, 10, QChar('0')),
                  card(QStringLiteral("F%1").arg(i), QStringLiteral("L%1").arg(i), "BDAY:1980-01-02\r\n"));
    const Items items = contacts(s);
    ASSERT_EQ(items.Count(), n);
    for (int i = 0; i < n; ++i)
        EXPECT_EQ(contact(items, i).LastName(), QStringLiteral("L%1").arg(i)) << i;
}

TEST(Folders, ARunKeepsOnlyTheContactsItUsesAndCountsTheRest)
{
    TempStore s;
    QByteArray book; // one file of many contacts, and files of one, read in parallel
    for (int i = 0; i < 1200; ++i) {
        const QByteArray one = card(QStringLiteral("F%1").arg(i), QStringLiteral("L%1").arg(i),
                                    QStringLiteral("BDAY:1980-01-%1\r\n").arg(i % 28 + 1, 2, 10, QChar('0')));
        if (i < 600)
            book += one;
        else
            s.addCard(QStringLiteral("c%1.vcf").arg(i, 4, 10, QChar('0')), one);
    }
    s.addCard(QStringLiteral("book.vcf"), book);
    s.addCard(QStringLiteral("list.vcf"), "BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:group\r\nFN:Family\r\n"
                                          "MEMBER:mailto:a@example.org\r\nEND:VCARD\r\n");
    const Items kept = Application(s.paths)
                           .GetNamespace(QStringLiteral("MAPI"))
                           .GetDefaultFolder(olFolderContacts)
                           .items([](const ContactData &c) { return c.birthday.date.day() == 5; });
    EXPECT_EQ(kept.contactsRead(), 1200);
    int contactsKept = 0, lists = 0;
    for (const auto &item : kept) {
        if (const auto *c = dynamic_cast<const ContactItem *>(item.get())) {
            EXPECT_EQ(c->Birthday().day(), 5) << c->LastName().toStdString();
            ++contactsKept;
        } else {
            ++lists; // every list stays: a run resolves its members
        }
    }
    EXPECT_EQ(contactsKept, 1200 / 28 + 1);
    EXPECT_EQ(lists, 1);
    // A kept contact of the large file is still written in place.
    auto *first = dynamic_cast<ContactItem *>(&kept.at(0));
    ASSERT_NE(first, nullptr);
    first->setBirthday(QDate(1980, 1, 6));
    first->Save();
    const Items all = contacts(s);
    EXPECT_EQ(all.contactsRead(), 1200);
    EXPECT_EQ(all.Count(), 1201);
    int sixth = 0;
    for (const auto &item : all)
        if (const auto *c = dynamic_cast<const ContactItem *>(item.get()); c && c->Birthday().day() == 6)
            ++sixth;
    EXPECT_EQ(sixth, 1200 / 28 + 1 + 1);
}

TEST(Folders, AWholeAddressBookExportedAsOneFileIsRead)
{
    // 600 contacts with a 50 kB photo each: 30 MB in one .vcf.
    TempStore s;
    const QString photo = QStringLiteral("PHOTO;ENCODING=b;TYPE=JPEG:") + QString(50 * 1024, QChar('A')) + "\r\n";
    QByteArray book;
    for (int i = 0; i < 600; ++i)
        book += card(QStringLiteral("F%1").arg(i), QStringLiteral("L%1").arg(i),
                     QStringLiteral("BDAY:1980-01-02\r\n") + photo);
    s.addCard(QStringLiteral("export.vcf"), book);
    const Items items = contacts(s);
    ASSERT_EQ(items.Count(), 600);
    EXPECT_EQ(contact(items, 599).LastName(), QStringLiteral("L599"));
    EXPECT_EQ(contact(items, 599).Birthday(), QDate(1980, 1, 2));
}

TEST(ContactSave, EachFormIsRewrittenAsItsGoldenFile)
{
    // A set date moves by one day, an unset one (a text) takes 20 July 1990:
    // only those lines change, in the card's own date form, encoding, byte
    // order mark and line ends.
    // Every one-card fixture of the folder, so a new exporter's file is
    // pinned as soon as it is added (with CHEERPOST_UPDATE_GOLDEN=1 once).
    const QStringList forms =
        QDir(QStringLiteral(TEST_DATA_DIR)).entryList({QStringLiteral("*.vcf")}, QDir::Files, QDir::Name);
    int tested = 0;
    for (const QString &name : forms) {
        const QByteArray form = name.toUtf8();
        TempStore s;
        QFile::copy(QStringLiteral(TEST_DATA_DIR "/") + name, s.contactFile(name));
        QFile::setPermissions(s.contactFile(name), QFile::ReadOwner | QFile::WriteOwner);
        Items items = contacts(s);
        if (items.Count() != 1)
            continue; // a file of several cards: the address book tests read those
        ++tested;
        ContactItem &c = contact(items, 0);
        c.setBirthday(c.Birthday() == noDateValue() ? QDate(1990, 7, 20) : c.Birthday().addDays(1));
        if (c.Anniversary() != noDateValue())
            c.setAnniversary(c.Anniversary().addDays(1));
        c.Save();
        EXPECT_TRUE(matchesGolden(s.read(s.contactFile(name)), (form + ".ref").constData()));
        // What was written reads back as what was set.
        const Items again = contacts(s);
        EXPECT_EQ(contact(again, 0).Birthday(), c.Birthday()) << form.constData();
        EXPECT_EQ(contact(again, 0).Anniversary(), c.Anniversary()) << form.constData();
    }
    EXPECT_GE(tested, 13);
}

TEST(ContactSave, ACardDeletedMeanwhileIsNeverOverwrittenByAnother)
{
    // A phone export: several cards in one file, none with a UID. Another
    // program deletes the first card while the run holds the file.
    TempStore s;
    QFile::copy(QStringLiteral(TEST_DATA_DIR "/phone-uidless-cards.vcf"), s.contactFile("phone.vcf"));
    QFile::setPermissions(s.contactFile("phone.vcf"), QFile::ReadOwner | QFile::WriteOwner);
    Items items = contacts(s);
    ASSERT_EQ(items.Count(), 3);
    QByteArray other = s.read(s.contactFile("phone.vcf"));
    other.remove(0, other.indexOf("BEGIN:VCARD", 10));
    s.write(s.contactFile("phone.vcf"), other);

    ContactItem &cy = contact(items, 2);
    EXPECT_EQ(cy.LastName(), "Clark");
    cy.setBirthday(QDate(1990, 7, 21));
    EXPECT_THROW(cy.Save(), HostError);
    EXPECT_EQ(s.read(s.contactFile("phone.vcf")), other); // Bea keeps 15 January, nothing is Cy's
    EXPECT_TRUE(s.files(s.paths.calendar).isEmpty());     // and no event for a save that failed
}

TEST(ContactSave, AnEditBetweenTheReadAndTheRenameIsKept)
{
    TempStore s;
    s.addCard("anna.vcf", kMessy);
    Items items = contacts(s);
    ContactItem &c = contact(items, 0);
    const QByteArray synced = QByteArray(kMessy).replace("NOTE:", "NOTE:synced ");
    {
        WriteBatch batch; // holds the rename until its commit
        c.setBirthday(QDate(1985, 3, 16));
        c.Save();
        s.write(s.contactFile("anna.vcf"), synced); // a sync tool, before the rename
        try {
            batch.flush();
            ADD_FAILURE() << "the save went through";
        } catch (const HostError &e) {
            ASSERT_EQ(e.files().size(), 2); // the contact, and its event that goes with it
            EXPECT_EQ(e.files().first(), s.contactFile("anna.vcf"));
        }
    }
    EXPECT_EQ(s.read(s.contactFile("anna.vcf")), synced);
    EXPECT_TRUE(s.files(s.paths.calendar).isEmpty()); // the event went with the failed save
    const QStringList left = QDir(s.paths.contacts).entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(left, QStringList{"anna.vcf"}); // no temporary left behind
}

TEST(ContactSave, ALinkedContactFileIsWrittenThroughToItsTarget)
{
    TempStore s;
    QDir().mkpath(s.dir.path() + "/elsewhere");
    const QString target = s.dir.path() + "/elsewhere/anna.vcf";
    s.write(target, kMessy);
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    ASSERT_TRUE(QFile::link("../elsewhere/anna.vcf", s.contactFile("anna.vcf")));
    Items items = contacts(s);
    ContactItem &c = contact(items, 0);
    c.setBirthday(QDate(1985, 3, 16));
    c.Save();
    EXPECT_TRUE(QFileInfo(s.contactFile("anna.vcf")).isSymLink());
    EXPECT_TRUE(s.read(target).contains("BDAY:19850316\n"));
    EXPECT_EQ(QFile::permissions(target),
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadUser | QFile::WriteUser);
}
