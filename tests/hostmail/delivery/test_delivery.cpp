#include "hostmail/HostError.h"
#include "hostmail/delivery/Delivery.h"
#include "hostmail/mime/MimeMessage.h"
#include "hostmail/model/Application.h"
#include "hostmail/model/MailItem.h"
#include "hostmail/store/Maildir.h"

#include "support/TempStore.h"

#include <gtest/gtest.h>

using namespace hostmail;

namespace {

// A delivery command that records what it was given, then exits with code.
QString recorder(const TempStore &s, int code = 0, const char *extra = "")
{
    const QString script = s.dir.path() + "/deliver.sh";
    s.write(script, QStringLiteral("#!/bin/sh\n%1cat >> '%2/delivered.txt'\nexit %3\n")
                        .arg(QString::fromLatin1(extra), s.dir.path())
                        .arg(code)
                        .toUtf8());
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return script;
}

QByteArray headersOf(const QByteArray &message)
{
    return message.left(message.indexOf("\n\n") + 1);
}

} // namespace

TEST(MailSend, DeliversThroughTheCommandAndFilesInSent)
{
    TempStore s;
    s.paths.deliveryCommand = recorder(s);
    auto mail = Application(s.paths).CreateMailItem();
    mail->setTo(QStringLiteral("anna@example.org"));
    mail->setBCC(QStringLiteral("hidden@example.org"));
    mail->setSubject(QStringLiteral("Now"));
    const QString where = mail->Send();
    EXPECT_TRUE(where.contains("/Mail/Sent/cur/")) << where.toStdString();
    EXPECT_TRUE(Maildir(s.paths.outbox()).messages().isEmpty());
    const QByteArray delivered = s.read(s.dir.path() + "/delivered.txt");
    EXPECT_TRUE(delivered.contains("Bcc: hidden@example.org")); // sendmail -t takes it from here
}

TEST(MailSend, FailedOrHangingDeliveryLeavesTheMessageInOutbox)
{
    TempStore s;
    s.paths.deliveryCommand = recorder(s, 75);
    auto mail = Application(s.paths).CreateMailItem();
    mail->setTo(QStringLiteral("anna@example.org"));
    EXPECT_TRUE(mail->Send().contains("/Outbox/new/"));

    s.paths.deliveryCommand = recorder(s, 0, "sleep 20\n");
    s.paths.deliveryTimeoutSeconds = 1;
    const DeliveryReport report = Delivery(s.paths).deliverDue(QDateTime::currentDateTime());
    EXPECT_EQ(report.failed, 1);
    EXPECT_EQ(Maildir(s.paths.outbox()).messages().size(), 1);
    EXPECT_TRUE(s.files(s.paths.sent() + "/cur").isEmpty());
}

TEST(MailSend, DeferredMessagesWaitAndListsExpandAtDelivery)
{
    TempStore s;
    s.paths.deliveryCommand = recorder(s);
    s.addCard(QStringLiteral("ann.vcf"),
              "BEGIN:VCARD\nVERSION:4.0\nUID:ann\nN:A;Ann;;;\nEMAIL:ann@example.org\nEND:VCARD\n");
    s.addCard(QStringLiteral("family.vcf"), "BEGIN:VCARD\nVERSION:4.0\nKIND:group\nFN:Family\n"
                                            "MEMBER:urn:uuid:ann\nMEMBER:mailto:bob@example.org\nEND:VCARD\n");
    auto mail = Application(s.paths).CreateMailItem();
    mail->setTo(QStringLiteral("Family"));
    const QDateTime due = QDateTime::currentDateTime().addDays(2);
    mail->setDeferredDeliveryTime(due);
    const QString queued = mail->Send();
    EXPECT_TRUE(queued.contains("/Outbox/"));
    EXPECT_TRUE(headersOf(s.read(queued)).contains("To: Family: ;"));

    Delivery delivery(s.paths);
    EXPECT_EQ(delivery.deliverDue(QDateTime::currentDateTime()).waiting, 1);
    const DeliveryReport later = delivery.deliverDue(due.addSecs(60));
    EXPECT_EQ(later.delivered, 1);
    EXPECT_TRUE(s.read(s.dir.path() + "/delivered.txt").contains("To: ann@example.org, bob@example.org"));
}
