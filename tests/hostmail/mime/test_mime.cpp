#include "hostmail/HostError.h"
#include "hostmail/mime/HtmlText.h"
#include "hostmail/mime/LocalReferences.h"
#include "hostmail/mime/MimeMessage.h"
#include "hostmail/model/Application.h"
#include "hostmail/model/MailItem.h"

#include "support/TempStore.h"

#include <QRegularExpression>
#include <QSet>

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

TEST(MailCompose, EachMessageOfOneBodyShowsItsOwnPictureAndAChangedPictureIsSeen)
{
    // Messages of one run share a body: each still names the Content-ID of
    // its own inline picture, and another picture for the same body is not
    // taken for the first.
    TempStore s;
    s.write(s.dir.path() + "/cake.png", "\x89PNG\r\n\x1a\ncake");
    s.write(s.dir.path() + "/tree.png", "\x89PNG\r\n\x1a\ntree");
    Application app(s.paths);
    const QString body = "<html><body><img src=\"file://" + s.dir.path() + "/cake.png\"><img src=\"file://" +
                         s.dir.path() + "/tree.png\"></body></html>";
    auto composed = [&](const QStringList &pictures) {
        auto mail = app.CreateMailItem();
        mail->setTo(QStringLiteral("anna@example.org"));
        mail->setHTMLBody(body);
        for (const QString &p : pictures)
            mail->attachments().Add(s.dir.path() + "/" + p);
        return s.read(mail->Save());
    };
    QSet<QByteArray> seen;
    for (const QStringList &pictures : {QStringList{"cake.png"}, QStringList{"cake.png"}, QStringList{"tree.png"}}) {
        const QByteArray m = composed(pictures);
        const QRegularExpression cid("Content-ID: <([^>]+)>", QRegularExpression::CaseInsensitiveOption);
        const QRegularExpressionMatch id = cid.match(QString::fromLatin1(m));
        ASSERT_TRUE(id.hasMatch()) << m.constData();
        EXPECT_FALSE(seen.contains(id.captured(1).toLatin1())); // unique to the message
        seen.insert(id.captured(1).toLatin1());
        const QByteArray html = QByteArray(m).replace("=\n", "").replace("=3D", "="); // quoted-printable undone
        EXPECT_EQ(int(html.count("src=\"cid:")), 1) << m.constData(); // only the attached picture is shown
        EXPECT_TRUE(html.contains("src=\"cid:" + id.captured(1).toLatin1() + "\"")) << m.constData();
        EXPECT_TRUE(m.contains("filename=" + pictures.first().toLatin1()));
    }
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

TEST(MailText, TheTextAlternativeReadsLikeTheHtml)
{
    EXPECT_EQ(mime::plainTextFromHtml(
                  "<!DOCTYPE html><html><head><title>T</title><style>p{color:red}</style></head>"
                  "<BODY>Dear Anna,<p>Happy&nbsp;birthday &amp; many   more!</p><h1>Party</h1>"
                  "<p>Line one<br>Line two</p><ul><li>cake</li><li>tea</li></ul>"
                  "<p>See <a href=\"https://example.org/p\">the plan</a> or <a href=\"mailto:a@b.example\">mail</a>, "
                  "<a href=\"https://example.org\">https://example.org</a></p><script>x()</script>"
                  "<img src=\"cid:1\" alt=\"A cake\"><!-- note --><p>&#8364;5 &#x263A; &bogus;</p></BODY></html>"),
              "Dear Anna,\n\nHappy birthday & many more!\n\nParty\n\nLine one\nLine two\n\n- cake\n- tea\n\n"
              "See the plan <https://example.org/p> or mail <a@b.example>, https://example.org\n\n[A cake]\n\n"
              "\u20ac5 \u263a &bogus;\n");
    EXPECT_EQ(mime::plainTextFromHtml(""), "");
}

TEST(MailText, LocalReferencesBecomeWhatTheHostSaysOrNothing)
{
    const QString html = "<img src=\"file:///home/me/cake.png\"><img SRC='/home/me/star.png'>"
                         "<table><tr><td background=file:///home/me/bg.gif></td></tr></table>"
                         "<a href=\"file:///home/me/doc.pdf\">doc</a>"
                         "<div style=\"background: url('file:///home/me/cake.png')\"></div>"
                         "<img src=\"C:\\Pictures\\x.gif\"><img src=\"https://example.org/w.png\"><img src=\"cid:k\">"
                         "<img src=\"&#102;ile:///home/me/secret.png\"><img src='&#x2F;home/me/cake.png'>";
    QStringList removed;
    const QString out = mime::rewriteLocalReferences(
        html, [](const QString &path) { return path.endsWith("cake.png") ? QStringLiteral("cid:cake") : QString(); },
        &removed);
    EXPECT_EQ(out, "<img src=\"cid:cake\"><img SRC=\"\"><table><tr><td background=\"\"></td></tr></table>"
                   "<a href=\"\">doc</a>"
                   "<div style=\"background: url(cid:cake)\"></div>"
                   "<img src=\"\"><img src=\"https://example.org/w.png\"><img src=\"cid:k\">"
                   "<img src=\"\"><img src=\"cid:cake\">");
    EXPECT_EQ(removed, QStringList({"/home/me/star.png (img src)", "file:///home/me/bg.gif (td background)",
                                    "file:///home/me/doc.pdf (a href)", "C:\\Pictures\\x.gif (img src)",
                                    "file:///home/me/secret.png (img src)"}));
    EXPECT_TRUE(mime::isLocalReference("FILE:///x"));
    EXPECT_FALSE(mime::isLocalReference("data:image/png;base64,AAAA"));
    // Only an absolute path names a file: a relative or remote file: URL
    // would be looked for in the folder the program runs in.
    EXPECT_EQ(mime::localPathOf("file:///home/me/My%20Pictures/cake.png"), "/home/me/My Pictures/cake.png");
    for (const char *nowhere : {"file:cake.png", "file:t/cake.png", "file://server/share/cake.png", "//server/cake.png",
                                "cake.png", "https://example.org/cake.png"})
        EXPECT_EQ(mime::localPathOf(nowhere), "") << nowhere;
    EXPECT_EQ(mime::rewriteLocalReferences("<img src=\"file:cake.png\">", [](const QString &) { return "cid:x"; }),
              "<img src=\"\">");
}

TEST(MailText, NoLocalPathOrScriptLeavesThroughAnyPlaceThatNamesAResource)
{
    const QString html =
        "<html><head><meta http-equiv=refresh content=\"0; url=file:///etc/passwd\">"
        "<style>body { background: url(\"file:///home/me/bg.png\") }</style>"
        "<script>steal()</script></head><body onload=\"steal()\">"
        "<img srcset=\"file:///home/me/a.png 1x, https://example.org/b.png 2x\">"
        "<video poster=\"/home/me/poster.jpg\"></video><object data=\"file:///home/me/x.swf\"></object>"
        "<embed src=\"/home/me/y.swf\"><svg><image xlink:href=\"file:///home/me/z.png\"/>"
        "<script>alert(1)</script></svg><a href=\"javascript:alert(1)\">x</a>"
        "<p style='color:red;background-image:url(/home/me/bg.png)'>Hi</p></body></html>";
    QStringList removed;
    const QString out = mime::rewriteLocalReferences(
        html, [](const QString &path) { return path.endsWith("bg.png") ? QStringLiteral("cid:bg") : QString(); },
        &removed);
    for (const char *gone : {"/home/me", "file:", "script", "steal", "alert", "onload"})
        EXPECT_FALSE(out.contains(QLatin1String(gone), Qt::CaseInsensitive)) << gone << "\n" << out.toStdString();
    EXPECT_TRUE(out.contains("body { background: url(cid:bg) }"));
    EXPECT_TRUE(out.contains("<p style=\"color:red;background-image:url(cid:bg)\">Hi</p>")) << out.toStdString();
    EXPECT_TRUE(out.contains("<body >") || out.contains("<body>")) << out.toStdString();
    EXPECT_EQ(removed.size(), 10) << removed.join('\n').toStdString();
    // The pictures a message embeds: img src, background and CSS url(), each once.
    // A cell outside a table, which the parser drops, is emptied all the same.
    EXPECT_EQ(mime::rewriteLocalReferences("<p>x</p><td background='/home/me/b.gif'>", {}),
              "<p>x</p><td background=\"\">");
    EXPECT_EQ(mime::localPictures("<img src=/a.png><table><td background='file:///b.gif'></table>"
                                  "<p style=\"x:url(/a.png)\">"
                                  "<style>p{background:url('/c.png')}</style><video poster=/d.jpg>"),
              QStringList({"/a.png", "/b.gif", "/c.png"}));
}

TEST(MailCompose, TextAttachmentsKeepTheirCharset)
{
    EXPECT_EQ(mime::textCharset("plain"), "us-ascii");
    EXPECT_EQ(mime::textCharset(QString::fromUtf8("Grüße").toUtf8()), "utf-8");
    EXPECT_EQ(mime::textCharset("Gr\xfc\xdf"
                                "e"),
              "windows-1252");
    EXPECT_EQ(mime::textCharset("\xff\xfeG\0"), "utf-16");
}

TEST(MailCompose, ASenderLineGivesItsAddressAndAnEncodedHeaderOrNothing)
{
    const hostmail::mime::Mailbox plain = hostmail::mime::mailbox("Anna Berg <anna@berg.test>");
    EXPECT_EQ(plain.address, "anna@berg.test");
    EXPECT_EQ(plain.header, "Anna Berg <anna@berg.test>");
    const hostmail::mime::Mailbox accented = hostmail::mime::mailbox(QString::fromUtf8("Zoë Łukasz <zl@berg.test>"));
    EXPECT_EQ(accented.address, "zl@berg.test");
    EXPECT_TRUE(accented.header.startsWith("=?")) << accented.header.toStdString();
    EXPECT_TRUE(accented.header.endsWith(" <zl@berg.test>"));
    for (const char *bad : {"", "Anna Berg", "a@b.test, c@d.test", "Family: ;"})
        EXPECT_TRUE(hostmail::mime::mailbox(bad).address.isEmpty()) << bad;
}

TEST(MailCompose, PersonalisedBodiesInARowComeOutAsEachWouldAlone)
{
    // A run's bodies differ in their salutation only; most are made safe by
    // filling the text into a body made safe once. Whatever the names hold,
    // each message must read as if it had been made safe on its own.
    TempStore s;
    s.write(s.dir.path() + "/cake.png", "\x89PNG\r\n\x1a\ncake");
    AttachmentData cake{"cake.png", s.dir.path() + "/cake.png", "image/png", {}, "\x89PNG\r\n\x1a\ncake", {}};
    const QString head = "<html><head><!-- a > b --><style>p { background: url(file:///etc/x.png) }</style>"
                         "<script>alert(1)</script></head><BODY>";
    const QString tail = ",<p><img src=\"file://" + s.dir.path() + "/cake.png\" onclick=\"x()\">" +
                         "<a href=\"file:///home/anna/private.html\">a link</a> Cheers</p></BODY></html>";
    const auto htmlOf = [&](const QString &body) {
        MessageFields f;
        f.to = "anna@example.org";
        f.body = body;
        f.attachments = {cake};
        return mime::textPart(mime::compose(f), "html")
            .replace(QRegularExpression("picture(\\d)\\.[0-9a-f]+@cheerpost"), "picture\\1@cheerpost");
    };
    const QStringList names = {"Dear Anna",
                               "Dear Tom",
                               QString::fromUtf8("Dear Zoë Łukasz-Żółtowska"),
                               "Dear Ben & Jerry",
                               "Dear Bo",
                               " x=file:///etc/passwd",
                               "Dear Eve <script>alert(1)</script>",
                               "javascript:alert(1)",
                               "",
                               "Dear Anna"};
    QStringList inARow;
    for (const QString &name : names)
        inARow.append(htmlOf(head + name + tail));
    for (qsizetype i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names.at(i).toStdString());
        MessageFields other;
        other.body = "<p>another run</p>";
        mime::compose(other); // what was made safe before is not used
        EXPECT_EQ(inARow.at(i), htmlOf(head + names.at(i) + tail));
        EXPECT_FALSE(inARow.at(i).contains("file:")) << inARow.at(i).toStdString();
        EXPECT_FALSE(inARow.at(i).contains("<script", Qt::CaseInsensitive));
        EXPECT_TRUE(inARow.at(i).contains("src=\"cid:picture1@cheerpost\""));
    }
}
