#include "export/core/DeviceLocator.h"
#include "export/core/ExportRun.h"
#include "hostmail/model/Application.h"

#include "support/ProgramTexts.h"
#include "support/RecordingPrompter.h"
#include "support/TempStore.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace exporting;

TEST(DeviceLocator, FirstRemovableVolumeWithContactsWins)
{
    QTemporaryDir d;
    const QString previous = QDir::currentPath();
    auto root = [&](const char *name, bool contacts) {
        const QString r = d.path() + "/" + name + "/";
        QDir().mkpath(r + (contacts ? "Contacts" : ""));
        return r;
    };
    const QString fixed = root("fixed", true), bare = root("stick", false), first = root("usb", true),
                  second = root("ipod", true);
    DeviceLocator locator(
        {{fixed, DriveFixed}, {bare, DriveRemovable}, {first, DriveRemovable}, {second, DriveRemovable}});
    EXPECT_EQ(locator.getDriveTypeName(fixed), "Fixed Drive");
    EXPECT_EQ(locator.locateiPodDrive(), first);
    EXPECT_EQ(QDir::currentPath(), first + "Contacts");
    EXPECT_EQ(DeviceLocator({{fixed, DriveFixed}, {bare, DriveRemovable}}).locateiPodDrive(), QString());
    EXPECT_EQ(DeviceLocator({}).locateiPodDrive(), QString());
    EXPECT_EQ(driveTypeText(7), QString());
    QDir::setCurrent(previous);
}

TEST(DeviceLocator, TargetFoldersForARootAndASubfolder)
{
    EXPECT_EQ(targetFolder("/media/usb/", "Contacts"), "/media/usb/Contacts/");
    EXPECT_EQ(targetFolder("/media/usb/Sync", "Notes"), "/media/usb/Sync/Notes/");
}

TEST(ExportRun, NamesFilesAndAdvancesForEveryEntry)
{
    TempStore s;
    s.addCard("1.vcf", card("John", "Smith"));
    s.addCard("2.vcf", "BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:group\r\nFN:Family\r\nEND:VCARD\r\n");
    s.addCard("3.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Smith;John;;;\r\nNOTE:second\r\nEND:VCARD\r\n");
    s.addCard("4.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nEMAIL:x@example.org\r\nEND:VCARD\r\n");
    s.write(s.paths.calendar + "/r.ics",
            "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:1\r\nSUMMARY:Review: Q1/Q2\r\n"
            "DTSTART:20260105T100000\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
    s.write(s.paths.notes + "/n.txt", "Call \"Bob\"?\nabout it\n");
    QTemporaryDir device;
    RecordingPrompter prompter;
    QStringList labels;
    QList<int> values;
    ExportView view;
    view.setLabel = [&](const QString &t) { labels.append(t); };
    view.setValue = [&](int v) { values.append(v); };
    ExportRun run([&] { return std::make_unique<hostmail::Application>(s.paths); }, prompter, view);
    run.run({device.path(), true, true, true});

    const QString root = device.path() + "/";
    EXPECT_EQ(QDir(root + "Contacts").entryList(QDir::Files | QDir::Hidden), QStringList({".vcf", "Smith, John.vcf"}));
    EXPECT_TRUE(s.read(root + "Contacts/Smith, John.vcf").contains("NOTE:second"));
    EXPECT_TRUE(QFile::exists(root + "Calendars/Review  Q1 Q2.ics"));
    EXPECT_TRUE(QFile::exists(root + "Notes/Call  Bob  .txt"));
    EXPECT_TRUE(labels.contains("Export Contact Complete."));
    EXPECT_EQ(labels.first(), "Exporting Contact: .vcf"); // the group sorts first and names nothing
    EXPECT_EQ(values.mid(0, 5), QList<int>({0, 1, 2, 3, 4}));
    EXPECT_EQ(prompter.texts(), QStringList{"Export to iPod / External Drive complete.\n\nContacts: 3 files in " +
                                            root + "Contacts.\nCalendars: 1 file in " + root +
                                            "Calendars.\nNotes: 1 file in " + root + "Notes."});
    EXPECT_EQ(cleanFileName("a:b/c\\d?e*f|g\"h\ti<j>"), "a b c d e f g h i<j>");
}

TEST(ExportRun, NothingCheckedStillCreatesTheFolders)
{
    TempStore s;
    QTemporaryDir device;
    RecordingPrompter prompter;
    ExportRun([&] { return std::make_unique<hostmail::Application>(s.paths); }, prompter, {})
        .run({device.path(), false, false, false});
    for (const char *f : {"Contacts", "Calendars", "Notes"})
        EXPECT_TRUE(QDir(device.path() + "/" + f).exists()) << f;
    EXPECT_EQ(prompter.texts(), QStringList{texts::nothingChecked});
}

TEST(ExportRun, FilesThatDidNotReachTheDeviceAreCountedWithTheirCause)
{
    TempStore s;
    s.addCard("1.vcf", card("John", "Smith"));
    s.addCard("2.vcf", card("Anna", "Berg"));
    s.write(s.paths.notes + "/n.txt", "Call Bob\n");
    QTemporaryDir device;
    s.write(device.path() + "/Contacts", "a file where the folder should be");
    RecordingPrompter prompter;
    ExportRun([&] { return std::make_unique<hostmail::Application>(s.paths); }, prompter, {})
        .run({device.path(), true, false, true});
    const QString root = device.path() + "/";
    EXPECT_EQ(prompter.texts(),
              QStringList{"Export to iPod / External Drive is incomplete: 2 of 3 files were not "
                          "written.\n\nContacts: 0 of 2 files written to " +
                          root + "Contacts; 2 missing (Not a directory).\nNotes: 1 file in " + root + "Notes."});
    EXPECT_EQ(prompter.boxes.last().icon, common::MessageIcon::Critical);
}

TEST(ExportRun, AStickPulledMidExportIsReportedNotCompleted)
{
    TempStore s;
    for (int i = 0; i < 20; ++i)
        s.addCard(QStringLiteral("%1.vcf").arg(i), card(QStringLiteral("P%1").arg(i), "Smith"));
    QTemporaryDir device;
    RecordingPrompter prompter;
    ExportView view;
    int labels = 0;
    view.setLabel = [&](const QString &) {
        if (++labels == 5) // the stick goes while the contacts are written
            QDir(device.path() + "/Contacts").removeRecursively();
    };
    ExportRun([&] { return std::make_unique<hostmail::Application>(s.paths); }, prompter, view)
        .run({device.path(), true, false, false});
    ASSERT_EQ(prompter.texts().size(), 1);
    EXPECT_TRUE(prompter.texts().first().startsWith("Export to iPod / External Drive is incomplete: "))
        << prompter.texts().first().toStdString();
    EXPECT_TRUE(prompter.texts().first().contains(" of 20 files written to " + device.path() + "/Contacts; "))
        << prompter.texts().first().toStdString();
}

TEST(ExportRun, TheStoreItselfOrALinkIntoItIsRefused)
{
    TempStore s;
    s.addCard("1.vcf", card("John", "Smith"));
    QTemporaryDir device;
    ASSERT_TRUE(QFile::link(s.paths.contacts, device.path() + "/Contacts"));
    const QString parent = QFileInfo(s.paths.contacts).absolutePath();
    for (const QString &location : {device.path(), s.paths.contacts, parent, s.paths.mail + "/Sent/new"}) {
        RecordingPrompter prompter;
        ExportRun([&] { return std::make_unique<hostmail::Application>(s.paths); }, prompter, {})
            .run({location, true, true, true});
        ASSERT_EQ(prompter.texts().size(), 1) << location.toStdString();
        EXPECT_TRUE(prompter.texts().first().startsWith(location + " is Cheerpost's own store, or lies inside it ("))
            << prompter.texts().first().toStdString();
        EXPECT_EQ(prompter.boxes.first().icon, common::MessageIcon::Critical);
    }
    EXPECT_EQ(QDir(s.paths.contacts).entryList(QDir::Files), QStringList{"1.vcf"});
    EXPECT_FALSE(QDir(parent + "/Calendars").exists());
}
