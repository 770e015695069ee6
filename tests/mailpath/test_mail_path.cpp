// The mail path end to end, judged by real tools: Python's email reads each
// message for defects and its MIME tree, Maildir readers (Python's mailbox,
// notmuch) open the folders, and msmtp delivers through a real SMTP server on
// 127.0.0.1.
#include "bulkmail/core/BulkRun.h"
#include "greetings/core/GreetingRun.h"
#include "hostmail/delivery/Delivery.h"
#include "hostmail/model/Application.h"
#include "hostmail/store/Maildir.h"

#include "support/Golden.h"
#include "support/RecordingPrompter.h"
#include "support/TempStore.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

const QString kPython = QStringLiteral("/usr/bin/python3");
const QString kSupport = QStringLiteral(TESTS_DIR "/support/");

QByteArray run(const QString &program, const QStringList &args, int *code = nullptr)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000)) {
        ADD_FAILURE() << program.toStdString() << " did not finish";
        return {};
    }
    if (code)
        *code = p.exitCode();
    else if (p.exitCode() != 0)
        ADD_FAILURE() << program.toStdString() << " " << args.join(' ').toStdString() << ": "
                      << p.readAllStandardError().toStdString();
    return p.readAllStandardOutput();
}

// What Python's email makes of a message file.
QJsonObject checked(const QString &file)
{
    return QJsonDocument::fromJson(run(kPython, {kSupport + "check_message.py", file})).object();
}

QString compact(const QJsonValue &v)
{
    return QString::fromUtf8(
        QJsonDocument(v.isObject() ? v.toObject() : QJsonObject{{"v", v}}).toJson(QJsonDocument::Compact));
}

// A store with pictures and files to attach, and two contacts due today.
struct MailPath {
    TempStore store;
    RecordingPrompter prompter;
    QString picture, other, text, pdf;
    QDate today;

    explicit MailPath(const QDate &day = QDate::currentDate()) : today(day)
    {
        const QByteArray png = QByteArray::fromBase64(
            "iVBORw0KGgoAAAANSUhEUgAAAAQAAAAECAIAAAAmkwkpAAAAEklEQVR4nGP4z8CARwJDhpIBAIrYD/GSlHKLAAAAAElFTkSuQmCC");
        picture = store.dir.path() + "/pictures/cake.png";
        other = store.dir.path() + "/pictures/star.png";
        QDir().mkpath(store.dir.path() + "/pictures");
        store.write(picture, png);
        store.write(other, png);
        text = store.dir.path() + "/note.txt";
        store.write(text, QString::fromUtf8("Grüße aus Köln\n").toUtf8());
        pdf = store.dir.path() + "/card.pdf";
        store.write(pdf, "%PDF-1.4\n%\xe2\xe3\xcf\xd3\n1 0 obj<<>>endobj\ntrailer<<>>\n%%EOF\n");
        const QString mmdd = today.toString("yyyy-MM-dd").mid(4);
        store.addCard("anna.vcf", card("Anna", "Berg", "BDAY:1985" + mmdd + "\r\n", "anna@example.org"));
        store.addCard("tom.vcf",
                      card("Tom", "Lind", "X-ANNIVERSARY:2001" + mmdd + "\r\nX-SPOUSE:Lisa\r\n", "tom@example.org"));
    }
    hostmail::ApplicationFactory host()
    {
        return [this] { return std::make_unique<hostmail::Application>(store.paths); };
    }
    // A greeting template that shows both pictures, one twice, and a link.
    templates::TemplateDocument greetingTemplate() const
    {
        const QString cake = QUrl::fromLocalFile(picture).toString(), star = QUrl::fromLocalFile(other).toString();
        return {"<html><head><title>t</title></head><BODY><p>Happy day!</p><img src=\"" + cake +
                "\" alt=\"cake\">"
                "<img src='" +
                star + "'><img src=\"" + cake +
                "\"><p>See <a href=\"https://example.org/party\">the "
                "party</a></p><table background=\"" +
                star +
                "\"><tr><td>x</td></tr></table>"
                "<img src=\"file:///etc/hostname\"></BODY></html>"};
    }
    int greetings(bool draft)
    {
        greetings::GreetingSettings s;
        s.saveDraft = draft;
        s.birthday.attachmentPath = text;
        s.anniversary.attachmentPath = pdf;
        const templates::TemplateDocument doc = greetingTemplate();
        return greetings::GreetingRun(host(), prompter, {}).run(s, doc, doc, today);
    }
};

} // namespace

TEST(MailPath, MessagesReadWithoutDefectsWithTheirPicturesInline)
{
    MailPath m(QDate(2026, 12, 8));
    ASSERT_EQ(m.greetings(true), 2);
    for (const QString &draft : m.store.drafts()) {
        const QJsonObject r = checked(draft);
        EXPECT_TRUE(r["defects"].toArray().isEmpty()) << compact(r["defects"]).toStdString();
        EXPECT_FALSE(r["local"].toBool()) << "a file: reference is left";
        EXPECT_FALSE(m.store.read(draft).contains(m.store.dir.path().toUtf8())) << "a local path is left";
        EXPECT_TRUE(r["unresolved"].toArray().isEmpty()) << compact(r["unresolved"]).toStdString();
        // Every picture the HTML shows comes from a part of the message.
        const QJsonArray sources = r["sources"].toArray();
        EXPECT_EQ(sources.size(), 5);
        for (const QJsonValue &src : sources)
            EXPECT_TRUE(src.toString().startsWith("cid:") || src.toString().isEmpty()) << src.toString().toStdString();
        EXPECT_TRUE(r["plain"].toString().contains("Happy day!"));
        EXPECT_TRUE(r["plain"].toString().contains("the party <https://example.org/party>"));
        EXPECT_FALSE(r["plain"].toString().contains("<p>"));
    }
    const QByteArray birthday = m.store.read(m.store.drafts().first());
    const QString tree = compact(checked(m.store.drafts().first())["tree"]);
    // Two pictures inline once each; the repeated cake picture and the text
    // file travel as attachments, the text with its charset.
    EXPECT_TRUE(tree.contains("{\"multipart/mixed\":[{\"multipart/related\":[{\"multipart/alternative\":["
                              "{\"charset\":\"us-ascii\",\"type\":\"text/plain\"},"
                              "{\"charset\":\"us-ascii\",\"type\":\"text/html\"}]}"))
        << tree.toStdString();
    EXPECT_TRUE(tree.contains("\"charset\":\"utf-8\",\"disposition\":\"attachment\",\"filename\":\"note.txt\","
                              "\"type\":\"text/plain\""))
        << tree.toStdString();
    EXPECT_TRUE(matchesGolden(stableMessage(birthday), "greeting-with-pictures.eml.ref"));
    const QString anniversary = compact(checked(m.store.drafts().last())["tree"]);
    EXPECT_TRUE(anniversary.contains("\"filename\":\"card.pdf\",\"type\":\"application/pdf\""))
        << anniversary.toStdString();
}

TEST(MailPath, EveryMaildirOpensInRealReaders)
{
    MailPath m;
    m.greetings(true);
    // A folder that went missing is made whole again by the next message.
    QDir(m.store.paths.sent()).removeRecursively();
    hostmail::Maildir(m.store.paths.sent()).add("Subject: kept\n\nsent earlier\n", "S");
    QDir(m.store.paths.outbox() + "/new").removeRecursively();
    hostmail::Maildir(m.store.paths.outbox()).add("Subject: queued\n\nlater\n", "S");

    const QString list = "import mailbox, sys\n"
                         "for f in sys.argv[1:]:\n"
                         "    print(f.rsplit('/', 1)[1], len(mailbox.Maildir(f, create=False).keys()))\n";
    const QByteArray counted =
        run(kPython, {"-c", list, m.store.paths.drafts(), m.store.paths.outbox(), m.store.paths.sent()});
    EXPECT_EQ(counted, "Drafts 2\nOutbox 1\nSent 1\n");

    const QString config = m.store.dir.path() + "/notmuch-config";
    m.store.write(config, ("[database]\npath=" + m.store.paths.mail + "\n[new]\ntags=new\n").toUtf8());
    const QStringList env = {"--config=" + config};
    run("notmuch", env + QStringList{"new", "--quiet"});
    EXPECT_EQ(run("notmuch", env + QStringList{"count", "*"}).trimmed(), "4");
    EXPECT_EQ(run("notmuch", env + QStringList{"count", "folder:Drafts"}).trimmed(), "2");
    EXPECT_EQ(run("notmuch", env + QStringList{"count", "subject:Birthday"}).trimmed(), "1");
}

TEST(MailPath, DeliveredThroughMsmtpToARealSmtpServer)
{
    MailPath m;
    // A private list, typed on the bulk page, and the greetings of the day.
    m.store.addCard("club.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Club\r\nFN:Club\r\nX-EVOLUTION-LIST:TRUE\r\n"
                                "X-EVOLUTION-LIST-SHOW-ADDRESSES:FALSE\r\nEMAIL:ann@example.org\r\n"
                                "EMAIL:\"Bob B\" <bob@example.org>\r\nEND:VCARD\r\n");
    const QString inbox = m.store.dir.path() + "/received";
    QProcess sink;
    sink.start(kPython, {kSupport + "smtp_sink.py", inbox});
    ASSERT_TRUE(sink.waitForReadyRead(30000)) << sink.readAllStandardError().constData();
    const QByteArray port = sink.readLine().trimmed();
    const QString conf = m.store.dir.path() + "/msmtprc";
    m.store.write(conf, "defaults\nauth off\ntls off\naccount default\nhost 127.0.0.1\nport " + port +
                            "\nfrom me@example.org\n");
    QFile::setPermissions(conf, QFile::ReadOwner | QFile::WriteOwner);
    m.store.paths.deliveryCommand = "msmtp -C " + conf + " -t";

    EXPECT_EQ(m.greetings(false), 2);
    bulkmail::BulkSettings bulk;
    bulk.distList = "club";
    bulk.bcc = false;
    bulk.subject = "Club news";
    bulk.sendMailOn = m.today;
    bulkmail::BulkRun(m.host(), m.prompter).run(bulk, {"<html><body><p>News</p></body></html>"}, m.today);

    const hostmail::DeliveryReport report = hostmail::Delivery(m.store.paths).deliverDue(QDateTime::currentDateTime());
    EXPECT_EQ(report.delivered, 3) << report.errors.join('\n').toStdString();
    EXPECT_EQ(report.failed, 0);
    EXPECT_TRUE(hostmail::Maildir(m.store.paths.outbox()).messages().isEmpty());
    EXPECT_EQ(m.store.files(m.store.paths.sent() + "/cur").size(), 3);
    sink.closeWriteChannel();
    sink.waitForFinished(30000);

    QStringList received;
    for (const char *sub : {"/new", "/cur"})
        received += m.store.files(inbox + sub);
    ASSERT_EQ(received.size(), 3);
    int club = 0;
    for (const QString &file : received) {
        const QJsonObject r = checked(file);
        const QJsonObject h = r["headers"].toObject();
        EXPECT_TRUE(r["defects"].toArray().isEmpty()) << compact(r["defects"]).toStdString();
        EXPECT_TRUE(r["unresolved"].toArray().isEmpty());
        EXPECT_FALSE(r["local"].toBool());
        EXPECT_FALSE(h.contains("Bcc")) << "Bcc went out";
        EXPECT_FALSE(h.contains("Deferred-Delivery"));
        if (h["Subject"].toString() == "Club news") {
            ++club;
            EXPECT_EQ(h["To"].toString(), "club:;");
            EXPECT_EQ(h["X-RcptTo"].toString(), "ann@example.org, bob@example.org");
        } else {
            EXPECT_TRUE(QStringList({"anna@example.org", "tom@example.org"}).contains(h["X-RcptTo"].toString()));
        }
    }
    EXPECT_EQ(club, 1);
}

namespace {

// The shipped example template with two pictures of about 25 KB each, as a
// user makes it in the editor.
templates::TemplateDocument exampleWithPictures(const TempStore &store)
{
    QFile example(QStringLiteral(SOURCE_DIR "/templates/examples/birthday.html"));
    EXPECT_TRUE(example.open(QIODevice::ReadOnly));
    QString html = QString::fromUtf8(example.readAll());
    QString pictures;
    for (const char *name : {"cake.jpg", "flowers.jpg"}) {
        QByteArray bytes("\xff\xd8\xff\xe0", 4);
        for (int i = 0; bytes.size() < 25000; ++i)
            bytes.append(char((i * 7919 + bytes.size()) % 251)); // no runs: base64 of every byte value
        const QString path = store.dir.path() + "/" + name;
        store.write(path, bytes);
        pictures += "<img src=\"" + QUrl::fromLocalFile(path).toString() + "\">";
    }
    const qsizetype end = html.lastIndexOf("</body>", -1, Qt::CaseInsensitive);
    EXPECT_GE(end, 0);
    html.insert(end, "<p>" + pictures + "</p><p>" + QString(1500, 'x') + "</p>");
    return {html};
}

// A strict SMTP server on 127.0.0.1 (tests/support/smtp_server.py): CRLF
// only, no line over 998 octets, AUTH over plain text to loopback.
struct StrictServer {
    QProcess process;
    QString maildir;
    int port = 0;
    explicit StrictServer(const QString &root) : maildir(root + "/received")
    {
        process.start(kPython, {kSupport + "smtp_server.py", maildir, "plain"});
        if (process.waitForReadyRead(30000))
            port = process.readLine().trimmed().toInt();
    }
    ~StrictServer()
    {
        process.closeWriteChannel();
        process.waitForFinished(30000);
    }
    QStringList received() const
    {
        QStringList out;
        for (const QString &n : QDir(maildir + "/new").entryList(QDir::Files, QDir::Name))
            out.append(maildir + "/new/" + n);
        return out;
    }
};

} // namespace

TEST(MailPath, GreetingsWithPicturesReachAStrictServerDatedTheDayTheyLeave)
{
    // Composed on 9 December for occasions on the 9th and the 28th.
    MailPath m(QDate(2026, 12, 9));
    const QString late = QDate(2026, 12, 28).toString("yyyy-MM-dd").mid(4);
    m.store.addCard("eva.vcf", card("Eva", "Moor", "BDAY:1990" + late + "\r\n", "eva@example.org"));
    StrictServer server(m.store.dir.path());
    ASSERT_GT(server.port, 0) << server.process.readAllStandardError().constData();
    m.store.paths.smtp.host = "127.0.0.1";
    m.store.paths.smtp.port = server.port;
    m.store.paths.smtp.security = hostmail::SmtpSettings::Security::None;
    m.store.paths.smtp.user = "anna@example.org";
    m.store.paths.smtp.passwordCommand = "printf secret";

    greetings::GreetingSettings s;
    s.saveDraft = false;
    const templates::TemplateDocument doc = exampleWithPictures(m.store);
    ASSERT_EQ(greetings::GreetingRun(m.host(), m.prompter, {}).run(s, doc, doc, m.today), 3);
    ASSERT_GT(m.store.read(m.store.outbox().first()).size(), 50000);

    const QDateTime today(m.today, QTime(10, 15));
    hostmail::DeliveryReport report = hostmail::Delivery(m.store.paths).deliverDue(today);
    EXPECT_EQ(report.delivered, 2) << report.errors.join('\n').toStdString();
    const QDateTime later(QDate(2026, 12, 28), QTime(7, 30));
    report = hostmail::Delivery(m.store.paths).deliverDue(later);
    EXPECT_EQ(report.delivered, 1) << report.errors.join('\n').toStdString();

    const QStringList received = server.received();
    ASSERT_EQ(received.size(), 3);
    QList<QDateTime> dates;
    for (const QString &file : received) {
        const QByteArray bytes = m.store.read(file);
        const QByteArray data = bytes.mid(bytes.indexOf("\r\n", bytes.indexOf("X-RcptTo:")) + 2);
        EXPECT_GT(data.size(), 50000);
        for (const QByteArray &line : data.split('\n'))
            ASSERT_TRUE(line.isEmpty() || (line.endsWith('\r') && line.size() <= 999)) << line.left(80).data();
        const QJsonObject r = checked(file);
        EXPECT_TRUE(r["defects"].toArray().isEmpty()) << compact(r["defects"]).toStdString();
        dates.append(QDateTime::fromString(r["headers"].toObject()["Date"].toString(), Qt::RFC2822Date));
    }
    std::sort(dates.begin(), dates.end());
    EXPECT_EQ(dates, QList<QDateTime>({today, today, later}));
    // The Sent copies show the Date that went out.
    QList<QDateTime> filed;
    for (const QString &file : m.store.files(m.store.paths.sent() + "/cur"))
        filed.append(QDateTime::fromString(hostmail::mime::headerText(m.store.read(file), "Date"), Qt::RFC2822Date));
    std::sort(filed.begin(), filed.end());
    EXPECT_EQ(filed, dates);
}
