#include "bulkmail/core/BulkRun.h"
#include "bulkmail/core/Recipients.h"
#include "hostmail/mime/MimeMessage.h"
#include "hostmail/model/Application.h"

#include "support/Eventually.h"
#include "support/Golden.h"
#include "support/ProgramTexts.h"
#include "support/RecordingPrompter.h"
#include "support/TempStore.h"

#include <QThread>
#include <QUrl>

#include <gtest/gtest.h>

#include <tuple>

using namespace bulkmail;
using hostmail::mime::headerText;

namespace {

struct BulkFixture {
    TempStore store;
    RecordingPrompter prompter;
    int opened = 0;
    BulkSettings s;
    templates::TemplateDocument doc{QStringLiteral("<html><body>Season's greetings</body></html>")};

    BulkFixture()
    {
        s.saveDraft = true;
        s.sendMailOn = QDate(2026, 12, 31);
        s.subject = "New Year";
        store.addCard("1.vcf", card("Anna", "Berg", "CATEGORIES:Family\r\n", "anna@example.org"));
        store.addCard("2.vcf",
                      card("Tom", "Lind", "CATEGORIES:Family,Golf\r\nEMAIL:tom2@example.org\r\n", "tom@example.org"));
        store.addCard("3.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Two;Only;;;\r\nEMAIL:\r\nEND:VCARD\r\n");
        store.addCard("4.vcf", "BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:group\r\nFN:Family\r\n"
                               "MEMBER:mailto:anna@example.org\r\nMEMBER:mailto:tom@example.org\r\nEND:VCARD\r\n");
        store.addCard("5.vcf", "BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:group\r\nFN:Nobody\r\nEND:VCARD\r\n");
    }
    int go()
    {
        return BulkRun(
                   [this] {
                       ++opened;
                       return std::make_unique<hostmail::Application>(store.paths);
                   },
                   prompter)
            .run(s, doc, QDate(2026, 12, 1));
    }
    QString body(int i) const { return hostmail::mime::bodyText(store.read(store.drafts().at(i))); }
};

} // namespace

TEST(BulkRun, EmptyListOrCategoryStopsBeforeAnyQuestion)
{
    BulkFixture f;
    f.s.distList.clear();
    EXPECT_EQ(f.go(), 0);
    EXPECT_EQ(f.prompter.texts(), QStringList{texts::noList});
    EXPECT_EQ(f.prompter.boxes.first().icon, common::MessageIcon::Critical);
    BulkFixture g;
    g.s.mode = RecipientMode::Category;
    g.s.category.clear();
    g.go();
    EXPECT_EQ(g.prompter.texts(), QStringList{texts::noCategory});
    EXPECT_EQ(f.opened + g.opened, 0);
}

TEST(BulkRun, NoToTheFirstQuestionEndsSilently)
{
    BulkFixture f;
    f.s.mode = RecipientMode::AllContacts; // nothing to look up before the question
    f.prompter.answers = {false};
    EXPECT_EQ(f.go(), 0);
    EXPECT_EQ(f.prompter.texts(), QStringList{texts::bulkConfirm});
    EXPECT_EQ(f.opened, 0);
}

TEST(BulkRun, DistributionListIsOneMessageWithoutSalutationADraftCarriesTheMembers)
{
    BulkFixture f;
    f.s.distList = "family";
    f.s.bcc = true;
    EXPECT_EQ(f.go(), 1);
    const QByteArray m = f.store.read(f.store.drafts().first());
    EXPECT_TRUE(headerText(m, "To").isEmpty());
    EXPECT_EQ(headerText(m, "Bcc"), "anna@example.org, tom@example.org");
    EXPECT_EQ(f.body(0), "<html><body>Season's greetings</body></html>");
    EXPECT_EQ(hostmail::mime::deferredDelivery(m), QDateTime(QDate(2026, 12, 31), QTime(0, 0)));
    EXPECT_EQ(f.prompter.texts().last(),
              "All emails have been generated.\n\n1 message saved in Drafts (" + f.store.paths.drafts() + ").");

    BulkFixture queued; // a queued message names the list, expanded at delivery
    queued.s.distList = "Family";
    queued.s.saveDraft = false;
    EXPECT_EQ(queued.go(), 1);
    EXPECT_EQ(headerText(queued.store.read(queued.store.outbox().first()), "To"), "Family: ;");
    EXPECT_EQ(queued.prompter.texts().last(), "All emails have been generated.\n\n1 message in the Outbox (" +
                                                  queued.store.paths.outbox() + "), to leave on 31 Dec 2026.");
}

TEST(BulkRun, AListOrCategoryThatReachesNobodyIsRefusedByName)
{
    for (const auto &[mode, name, refusal] :
         {std::tuple{
              RecipientMode::DistributionList, "Neighbours",
              "There is no distribution list named \"Neighbours\" in your contacts: there is nobody to send to."},
          std::tuple{RecipientMode::DistributionList, "Nobody",
                     "The distribution list \"Nobody\" has no member with an e-mail address: there is nobody to send "
                     "to."},
          std::tuple{RecipientMode::Category, "Chess",
                     "No contact is in the category \"Chess\": there is nobody to send to."}}) {
        BulkFixture f;
        f.s.mode = mode;
        (mode == RecipientMode::Category ? f.s.category : f.s.distList) = name;
        EXPECT_EQ(f.go(), 0);
        // Refused before any question, as the other fields are.
        EXPECT_EQ(f.prompter.texts(), QStringList({refusal}));
        EXPECT_EQ(f.prompter.boxes.last().icon, common::MessageIcon::Critical);
        EXPECT_TRUE(f.store.drafts().isEmpty());
    }
}

TEST(BulkRun, TheUntouchedSubjectOrAnEmptyBodyIsMadeOnlyOnYes)
{
    BulkFixture f;
    f.s.distList = "Family";
    f.s.subject = BulkSettings().subject;
    f.doc.html = "<html><body><p>&nbsp;</p></body></html>";
    f.prompter.answers = {true, true, false};
    EXPECT_EQ(f.go(), 0);
    EXPECT_EQ(f.prompter.texts(),
              QStringList({texts::bulkConfirm,
                           "The subject is still \"Enter the Subject Line\".\rSend the messages with this subject?",
                           "The message is empty: it holds no text and no picture.\rSend it anyway?"}));
    EXPECT_TRUE(f.store.drafts().isEmpty());

    BulkFixture yes;
    yes.s.distList = "Family";
    yes.s.subject = " ";
    yes.s.attachmentPath = yes.store.dir.path() + "/gone.pdf";
    EXPECT_EQ(yes.go(), 1);
    EXPECT_EQ(yes.prompter.texts(),
              QStringList({texts::bulkConfirm, "The subject is empty.\rSend the messages without a subject?",
                           yes.s.attachmentPath + " cannot be included (no such file).\rSend the messages without it?",
                           "All emails have been generated.\n\n1 message saved in Drafts (" + yes.store.paths.drafts() +
                               ").\nLeft out of the messages: " + yes.s.attachmentPath + " (no such file)."}));
}

TEST(BulkRun, CategoryMatchesTheWholeTextWithoutCase)
{
    BulkFixture f;
    f.s.mode = RecipientMode::Category;
    f.s.category = "family";
    f.s.cc = "me@example.org";
    EXPECT_EQ(f.go(), 1);
    const QByteArray m = f.store.read(f.store.drafts().first());
    EXPECT_TRUE(matchesGolden(stableMessage(m), "bulk-category.eml.ref"));
    EXPECT_EQ(headerText(m, "To"), "anna@example.org");
    EXPECT_EQ(headerText(m, "Cc"), "me@example.org");
    EXPECT_EQ(f.body(0), "<html><BODY>Dear Anna,Season's greetings</body></html>");

    BulkFixture blank;
    blank.s.mode = RecipientMode::Category;
    blank.s.category = "Family ";
    EXPECT_EQ(blank.go(), 0);
    BulkFixture hint;
    hint.s.mode = RecipientMode::Category; // the hint text is a category too
    EXPECT_EQ(hint.go(), 0);
    EXPECT_EQ(hint.prompter.texts().last(),
              "No contact is in the category \"Enter the Contact Category\": there is nobody to send to.");
    EXPECT_TRUE(categoryMatches("Family, Golf", "family, golf"));
}

TEST(BulkRun, AllContactsAsksAgainAndNamesEveryone)
{
    BulkFixture no;
    no.s.mode = RecipientMode::AllContacts;
    no.prompter.answers = {true, false};
    EXPECT_EQ(no.go(), 0);
    EXPECT_EQ(no.prompter.texts(), QStringList({texts::bulkConfirm, texts::allContacts,
                                                "No messages were made: sending to all contacts was not confirmed."}));

    BulkFixture yes;
    yes.s.mode = RecipientMode::AllContacts;
    yes.s.salutationCustom = true;
    yes.s.salutationCust = " Hi ";
    yes.s.bcc = true;
    EXPECT_EQ(yes.go(), 2);
    const QByteArray tom = yes.store.read(yes.store.drafts().at(1));
    EXPECT_EQ(headerText(tom, "Bcc"), "tom@example.org, tom2@example.org");
    EXPECT_TRUE(headerText(tom, "To").isEmpty());
    EXPECT_EQ(yes.body(1), "<html><BODY>Hi Tom,Season's greetings</body></html>");
    EXPECT_EQ(yes.prompter.texts().last(), "All emails have been generated.\n\n2 messages saved in Drafts (" +
                                               yes.store.paths.drafts() +
                                               ").\nSkipped, no e-mail address (1): Only Two.");
}

TEST(BulkRun, EveryTemplateImageIsAttachedRepeatsIncluded)
{
    BulkFixture f;
    const QString png = f.store.dir.path() + "/star.png";
    f.store.write(
        png, QByteArray::fromBase64(
                 "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk+M9QDwADhgGAWjR9awAAAABJRU5ErkJggg=="));
    // A picture whose name holds a ";" stays one file.
    const QString odd = f.store.dir.path() + "/new;year.png";
    f.store.write(odd, f.store.read(png));
    const QString url = QUrl::fromLocalFile(png).toString();
    f.doc.html = "<html><body><img src=\"" + url + "\"><img src=\"https://example.org/x.png\"><img src=\"" + url +
                 "\"><img src=\"" + QUrl::fromLocalFile(odd).toString() + "\"></body></html>";
    f.s.distList = "Family";
    f.go();
    const QByteArray m = f.store.read(f.store.drafts().first());
    EXPECT_EQ(m.count("filename=star.png"), 2);
    EXPECT_EQ(m.count("filename=\"new;year.png\""), 1) << m.toStdString();
    EXPECT_FALSE(m.contains("example.org/x.png\" ")); // a web picture is left as it is, not attached
}

TEST(BulkSalutation, CategoryHonoursThePrintNameBox)
{
    BulkSettings s;
    s.mode = RecipientMode::Category;
    EXPECT_EQ(bulkSalutation(s, "Anna"), "Dear Anna,");
    s.salutationCustom = true;
    s.salutationCust = "Hello";
    EXPECT_EQ(bulkSalutation(s, "Anna"), "Hello,");
    s.printName = true;
    EXPECT_EQ(bulkSalutation(s, ""), "Hello ,");
    s.mode = RecipientMode::AllContacts;
    s.printName = false;
    EXPECT_EQ(bulkSalutation(s, "Anna"), "Hello Anna,");
}

TEST(BulkRun, SendModeQueuesEachMessageForTheSendOnDateAndStartsDeliveryOnce)
{
    BulkFixture f;
    f.s.saveDraft = false;
    f.s.mode = RecipientMode::AllContacts;
    const QString agent = f.store.dir.path() + "/agent.sh";
    f.store.write(agent, "#!/bin/sh\necho started >> \"$(dirname \"$0\")/agent.txt\"\n");
    QFile::setPermissions(agent, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    f.store.paths.deliveryAgent = agent;
    EXPECT_EQ(f.go(), 2);
    EXPECT_TRUE(f.store.drafts().isEmpty());
    ASSERT_EQ(f.store.outbox().size(), 2);
    for (const QString &queued : f.store.outbox())
        EXPECT_EQ(hostmail::mime::deferredDelivery(f.store.read(queued)), QDateTime(QDate(2026, 12, 31), QTime(0, 0)));
    ASSERT_TRUE(eventually([&] { return holdsAWholeLine(f.store.dir.path() + "/agent.txt"); }, 10000));
    QThread::msleep(200); // a second start would show by now
    EXPECT_EQ(f.store.read(f.store.dir.path() + "/agent.txt"), "started\n");
}

TEST(BulkRun, TheAttachmentFileFollowsTheTemplatePictures)
{
    BulkFixture f;
    const QString png = f.store.dir.path() + "/star.png";
    f.store.write(png, QByteArray::fromBase64("iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk+"
                                              "M9QDwADhgGAWjR9awAAAABJRU5ErkJggg=="));
    const QString pdf = f.store.dir.path() + "/plan.pdf";
    f.store.write(pdf, "%PDF-1.4\n%%EOF\n");
    f.doc.html = "<html><body><img src=\"" + QUrl::fromLocalFile(png).toString() + "\"></body></html>";
    f.s.attachmentPath = pdf;
    f.s.distList = "Family";
    f.go();
    const QByteArray m = f.store.read(f.store.drafts().first());
    const qsizetype picture = m.indexOf("filename=star.png"), file = m.indexOf("filename=plan.pdf");
    EXPECT_GE(picture, 0);
    EXPECT_GT(file, picture);
}

TEST(BulkRun, ABodyTagWithAttributesGetsNoSalutationAndTheClosingMessageSaysSo)
{
    BulkFixture f;
    f.s.mode = RecipientMode::Category;
    f.s.category = "Family";
    f.doc.html = "<html><body style=\"color: red\"><p>Season's greetings</p></body></html>";
    EXPECT_EQ(f.go(), 1);
    EXPECT_EQ(f.body(0), "<html><body style=\"color: red\"><p>Season's greetings</p></body></html>");
    EXPECT_TRUE(f.prompter.texts().last().contains("The messages carry no salutation: the template has no plain "
                                                   "<BODY> tag to put it after (a body tag with attributes gets "
                                                   "none)."))
        << f.prompter.texts().last().toStdString();
}
