#include "hostmail/HostError.h"
#include "hostmail/mime/MimeMessage.h"
#include "hostmail/model/Application.h"
#include "hostmail/model/MailItem.h"

#include "support/TempStore.h"

#include <gtest/gtest.h>

using namespace hostmail;

namespace {

QByteArray headersOf(const QByteArray &message)
{
    return message.left(message.indexOf("\n\n") + 1);
}

} // namespace

TEST(MailCompose, DraftHoldsHeadersBodyAttachmentsAndDeferredTime)
{
    TempStore s;
    s.write(s.dir.path() + "/cake.png", "\x89PNG\r\n\x1a\nimage-bytes");
    Application app(s.paths);
    auto mail = app.CreateMailItem();
    mail->setTo(QStringLiteral("anna@example.org;;  ;bo@example.org"));
    mail->setCC(QStringLiteral("cc@example.org"));
    mail->setBCC(QStringLiteral("hidden@example.org"));
    mail->setSubject(QString::fromUtf8("Happy Birthday ! – Jürgen"));
    mail->setHTMLBody(QStringLiteral("<html><BODY>Dear Anna,<p>hi</p></BODY></html>"));
    mail->attachments().Add(s.dir.path() + "/cake.png");
    EXPECT_THROW(mail->attachments().Add(s.dir.path() + "/missing.png"), HostError);
    mail->setDeferredDeliveryTime(QDateTime(QDate(2026, 12, 24), QTime(0, 0)));
    const QString path = mail->Save();
    EXPECT_TRUE(path.endsWith(":2,DS"));
    EXPECT_EQ(s.drafts(), QStringList{path});
    const QByteArray m = s.read(path);
    const QByteArray h = headersOf(m);
    EXPECT_TRUE(h.contains("To: anna@example.org, bo@example.org\n")) << h.constData();
    EXPECT_TRUE(h.contains("Cc: cc@example.org\n"));
    EXPECT_TRUE(h.contains("Bcc: hidden@example.org\n"));
    EXPECT_TRUE(h.contains("Subject: Happy Birthday ! =?UTF-8?"));
    EXPECT_EQ(mime::headerText(m, "Subject"), QString::fromUtf8("Happy Birthday ! – Jürgen"));
    EXPECT_EQ(mime::deferredDelivery(m), QDateTime(QDate(2026, 12, 24), QTime(0, 0)));
    EXPECT_TRUE(m.contains("Content-Type: text/html"));
    EXPECT_TRUE(m.contains("filename=cake.png"));
    EXPECT_TRUE(m.contains("Content-Type: image/png"));
}

TEST(MailCompose, LineBreaksInValuesNeverMakeAHeader)
{
    TempStore s;
    auto mail = Application(s.paths).CreateMailItem();
    mail->setTo(QStringLiteral("anna@example.org\r\nBcc: evil@example.com"));
    mail->setSubject(QStringLiteral("Hi\r\nBcc: evil@example.com\nX-Injected: 1"));
    const QByteArray h = headersOf(s.read(mail->Save()));
    EXPECT_FALSE(h.contains("\nBcc: evil")) << h.constData();
    EXPECT_FALSE(h.contains("\nX-Injected")) << h.constData();
}
