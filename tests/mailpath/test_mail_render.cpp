// A greeting as a recipient's mail reader shows it: the HTML part rendered by
// a browser engine, its cid: pictures resolved from the message's own parts.
#include "greetings/core/GreetingRun.h"
#include "hostmail/model/Application.h"

#include "support/RecordingPrompter.h"
#include "support/TempStore.h"

#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QWebEnginePage>

#include <gtest/gtest.h>

TEST(MailRender, EveryPictureOfAGreetingShowsAtTheRecipient)
{
    TempStore store;
    RecordingPrompter prompter;
    const QByteArray png = QByteArray::fromBase64(
        "iVBORw0KGgoAAAANSUhEUgAAAAQAAAAECAIAAAAmkwkpAAAAEklEQVR4nGP4z8CARwJDhpIBAIrYD/GSlHKLAAAAAElFTkSuQmCC");
    const QString cake = store.dir.path() + "/cake.png", star = store.dir.path() + "/star.png";
    store.write(cake, png);
    store.write(star, png);
    store.addCard("anna.vcf", card("Anna", "Berg", "BDAY:1985-03-14\r\n", "anna@example.org"));
    const QString a = QUrl::fromLocalFile(cake).toString(), b = QUrl::fromLocalFile(star).toString();
    const templates::TemplateDocument doc{"<html><BODY><p>Happy day!</p><img src=\"" + a + "\"><img src=\"" + b +
                                          "\"><img src=\"" + a + "\"></BODY></html>"};
    greetings::GreetingSettings s;
    s.saveDraft = true;
    ASSERT_EQ(greetings::GreetingRun([&] { return std::make_unique<hostmail::Application>(store.paths); }, prompter, {})
                  .run(s, doc, doc, QDate(2026, 3, 10)),
              1);

    // The reader's view: the HTML part with each cid: picture from its part.
    QTemporaryDir view;
    QProcess extract;
    extract.start("/usr/bin/python3", {TESTS_DIR "/support/check_message.py", store.drafts().first(), view.path()});
    ASSERT_TRUE(extract.waitForFinished(60000));
    ASSERT_EQ(extract.exitCode(), 0) << extract.readAllStandardError().constData();

    QFile html(view.filePath("index.html"));
    ASSERT_TRUE(html.open(QIODevice::ReadOnly));
    EXPECT_FALSE(html.readAll().contains("file:")); // the pictures come from the message, not the sender's disk

    QWebEnginePage page;
    QSignalSpy loaded(&page, &QWebEnginePage::loadFinished);
    page.load(QUrl::fromLocalFile(view.filePath("index.html")));
    ASSERT_TRUE(loaded.wait(30000));
    QVariant shown;
    QEventLoop loop;
    page.runJavaScript("Array.from(document.images).map(i => i.complete && i.naturalWidth === 4)",
                       [&](const QVariant &v) {
                           shown = v;
                           loop.quit();
                       });
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(shown.toList(), QVariantList({true, true, true}));
}
