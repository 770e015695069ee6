#include "templates/core/TemplateText.h"
#include "templates/views/DesignEditor.h"
#include "templates/views/DocumentPage.h"
#include "templates/views/TemplateEditor.h"

#include "support/Golden.h"
#include "support/MainWindowFixture.h"
#include "support/ProgramTexts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebEngineScript>
#include <QWebEngineView>

using namespace templates;

namespace {

class TemplateFixture : public MainWindowFixture {
protected:
    DesignEditor *editor(const char *name) { return find<DesignEditor>(name); }
    void setDocument(const char *name, const QString &html)
    {
        editor(name)->setDocument(html);
        editor(name)->documentHtml(); // waits for the load
    }
    QString previewFile() const { return QString::fromUtf8(store.read(window->previewPath())); }
};

} // namespace

TEST_F(TemplateFixture, FirstStartOpensTheExamplesLaterStartsTheLastFilesWithBlankPreviews)
{
    open();
    for (const char *p : {"WbrPreviewA", "WbrPreviewB", "WbrPreviewO"})
        EXPECT_EQ(find<QWebEngineView>(p)->url().toString(), "about:blank") << p;
    EXPECT_TRUE(editor("EditorB")->documentHtml().contains("Wishing you a wonderful day"));
    EXPECT_TRUE(editor("EditorA")->documentHtml().contains("Congratulations on your anniversary"));
    EXPECT_TRUE(editor("EditorO")->documentHtml().contains("Our news"));

    // A file opened is the one the next start opens; the examples are not
    // forced on a user who emptied an editor.
    const QString mine = store.dir.path() + "/mine.html";
    store.write(mine, "<html><body><p>Mine</p></body></html>");
    dialogs.answers = {mine};
    find<QAbstractButton>("CmdBOpen")->click();
    EXPECT_TRUE(dialogs.folders.last().endsWith("templates/examples")) << dialogs.folders.last().toStdString();
    window.reset();
    open();
    EXPECT_TRUE(editor("EditorB")->documentHtml().contains("<p>Mine</p>"));
    EXPECT_TRUE(editor("EditorA")->documentHtml().contains("Congratulations on your anniversary"));
    QFile::remove(mine);
    window.reset();
    open();
    EXPECT_EQ(editor("EditorB")->documentHtml(), "<html><head></head><body></body></html>");
}

TEST_F(TemplateFixture, UnsavedChangesAreOfferedForSavingBeforeOpenAndExit)
{
    const QString mine = store.dir.path() + "/mine.html";
    store.write(mine, "<html><body><p>Mine</p></body></html>");
    open();
    dialogs.answers = {mine};
    find<QAbstractButton>("CmdBOpen")->click();
    setDocument("EditorB", "<html><body><p>Changed</p></body></html>");
    prompter.answers = {false}; // No: the change is dropped, the dialog opens
    find<QAbstractButton>("CmdBOpen")->click();
    EXPECT_EQ(prompter.texts().last(), "The birthday template has changes that are not saved.\rSave them now?");
    EXPECT_EQ(dialogs.filters.size(), 2);

    prompter.answers = {true}; // Yes on closing: written to the file it came from
    const int asked = int(prompter.boxes.size());
    EXPECT_TRUE(window->close());
    EXPECT_EQ(prompter.boxes.size(), asked + 1);
    EXPECT_TRUE(store.read(mine).contains("<p>Changed</p>"));
}

TEST_F(TemplateFixture, AnExampleIsNeverWrittenSavingOneSavesACopyInTheUsersOwnFolder)
{
    // The examples as a package installs them, beside the program.
    const QString examples = store.dir.path() + "/share/cheerpost/templates";
    QDir().mkpath(examples);
    QDir().mkpath(store.dir.path() + "/bin");
    for (const char *name : {"birthday.html", "anniversary.html", "bulk.html"})
        ASSERT_TRUE(
            QFile::copy(QStringLiteral(TEST_DATA_DIR "/../../templates/examples/") + name, examples + "/" + name));
    const QByteArray birthday = store.read(examples + "/birthday.html");
    const QByteArray anniversary = store.read(examples + "/anniversary.html");
    services.programFolder = store.dir.path() + "/bin";
    open();
    ASSERT_TRUE(editor("EditorB")->documentHtml().contains("Wishing you a wonderful day"));

    // Yes to "Save them now?" before Open: a Save As that starts in the user's folder.
    setDocument("EditorB", "<html><body><p>Changed</p></body></html>");
    const QString copy = store.dir.path() + "/my-birthday.html";
    dialogs.answers = {copy};
    prompter.answers = {true};
    find<QAbstractButton>("CmdBOpen")->click();
    EXPECT_EQ(store.read(examples + "/birthday.html"), birthday);
    EXPECT_TRUE(store.read(copy).contains("<p>Changed</p>"));
    ASSERT_FALSE(dialogs.saveFolders.isEmpty());
    EXPECT_TRUE(dialogs.saveFolders.first().endsWith("/cheerpost/Templates"))
        << dialogs.saveFolders.first().toStdString();

    // A Save As into the examples is refused; closing with changes saves a copy too.
    setDocument("EditorA", "<html><body><p>Ours</p></body></html>");
    dialogs.answers = {examples + "/anniversary.html"};
    find<QAbstractButton>("CmdASave")->click();
    EXPECT_EQ(prompter.texts().last(),
              "The example templates are kept as they are shipped: save yours in another folder.");
    const QString ours = store.dir.path() + "/our-anniversary.html";
    dialogs.answers = {ours};
    prompter.answers = {true};
    EXPECT_TRUE(window->close());
    EXPECT_EQ(store.read(examples + "/anniversary.html"), anniversary);
    EXPECT_TRUE(store.read(ours).contains("<p>Ours</p>"));
}

TEST_F(TemplateFixture, TabChangesFollowTheRules)
{
    open();
    auto *tabs = find<QTabWidget>("SSTab2");
    auto *source = find<QPlainTextEdit>("txtSourceB");
    setDocument("EditorB", "<html><head>" + kGeneratorTag.toLower() + "</head><body><p>One</p></body></html>");
    tabs->setCurrentIndex(2); // Design -> Preview refreshes the hidden source too
    EXPECT_FALSE(source->toPlainText().contains("generator", Qt::CaseInsensitive));
    EXPECT_TRUE(source->toPlainText().contains("<p>One</p>"));
    EXPECT_TRUE(previewFile().contains("<p>One</p>"));
    EXPECT_EQ(find<QWebEngineView>("WbrPreviewB")->url(), QUrl::fromLocalFile(window->previewPath()));

    // Leaving Preview changes nothing, even when the document changed.
    setDocument("EditorB", "<html><body><p>Two</p></body></html>");
    tabs->setCurrentIndex(1);
    EXPECT_TRUE(source->toPlainText().contains("<p>One</p>"));
    EXPECT_TRUE(previewFile().contains("<p>One</p>"));

    // Typed source never reaches the preview; leaving HTML refreshes it from the design.
    source->setPlainText("<p>typed</p>");
    tabs->setCurrentIndex(2);
    EXPECT_TRUE(previewFile().contains("<p>Two</p>"));
    EXPECT_FALSE(previewFile().contains("typed"));
    EXPECT_EQ(source->toPlainText(), "<p>typed</p>");

    // Two templates one after the other: the file holds the second.
    setDocument("EditorA", "<html><body><p>Anniversary</p></body></html>");
    find<QTabWidget>("SSTab3")->setCurrentIndex(1);
    EXPECT_TRUE(previewFile().contains("Anniversary"));
}

TEST_F(TemplateFixture, OpenKeepsThePlainBodyAndReadsImagesForTheRuns)
{
    open();
    const QString folder = store.dir.path() + "/tpl";
    QDir().mkpath(folder);
    store.write(folder + "/cake.png", "png");
    store.write(folder + "/birthday.txt",
                "<HTML><BODY><p>Hi</p><img src=\"cake.png\"><IMG SRC=\"https://example.org/w.png\"></BODY></HTML>");
    dialogs.answers = {folder + "/birthday.txt"};
    window->editor('B').openClick();
    EXPECT_EQ(dialogs.filters.last(), texts::openFilter);
    const TemplateDocument doc = window->editor('B').document();
    EXPECT_TRUE(doc.html.contains("<body><p>Hi</p>")) << doc.html.toStdString();
    // The picture's relative reference is made absolute, so the runs find its file.
    EXPECT_TRUE(doc.html.contains("src=\"" + QUrl::fromLocalFile(folder + "/cake.png").toString() + "\""))
        << doc.html.toStdString();
    EXPECT_TRUE(doc.html.contains("https://example.org/w.png"));

    // An unreadable file is reported and the document stays.
    dialogs.answers = {folder + "/missing.html"};
    window->editor('B').openClick();
    EXPECT_EQ(prompter.boxes.last().icon, common::MessageIcon::Critical);
    EXPECT_TRUE(window->editor('B').document().html.contains("<p>Hi</p>"));
}

TEST_F(TemplateFixture, SaveWritesTheExactPathOrSaysItCannot)
{
    open();
    setDocument("EditorO", "<html><body><p>Bulk</p></body></html>");
    dialogs.answers = {store.dir.path() + "/plain"};
    window->editor('O').saveClick();
    EXPECT_EQ(dialogs.filters.last(), texts::saveFilter);
    EXPECT_TRUE(store.read(store.dir.path() + "/plain").contains("<p>Bulk</p>"));
    EXPECT_TRUE(prompter.boxes.isEmpty());

    dialogs.answers = {store.dir.path() + "/no/such/folder/x.html"};
    window->editor('O').saveClick();
    ASSERT_EQ(prompter.boxes.size(), 1);
    EXPECT_EQ(prompter.boxes.last().text, "Can\u2019t save the file, try again.");
    EXPECT_EQ(prompter.boxes.last().title, "Cheerpost");
    EXPECT_EQ(prompter.boxes.last().icon, common::MessageIcon::Critical);
}

TEST_F(TemplateFixture, AttachReplacesOnlyItsOwnBox)
{
    open();
    dialogs.answers = {"/pics/a.jpg", "/pics/b.jpg", "/pics/o.jpg"};
    window->editor('A').attachClick();
    window->editor('B').attachClick();
    window->editor('O').attachClick();
    EXPECT_EQ(dialogs.filters.last(), texts::attachFilter);
    window->editor('B').attachClick(); // cancelled
    EXPECT_EQ(find<QLineEdit>("TxtAFile")->text(), "/pics/a.jpg");
    EXPECT_EQ(find<QLineEdit>("TxtBFile")->text(), "");
    EXPECT_EQ(find<QLineEdit>("TxtOFile")->text(), "/pics/o.jpg");
    EXPECT_FALSE(find<QLineEdit>("TxtAFile")->isEnabled());
}

TEST_F(TemplateFixture, AllInTheFileDialogListsNamesWithoutADot)
{
    // A template saved as "birthday", as Save allows, can be opened again.
    QTemporaryDir dir;
    for (const char *name : {"birthday", "birthday.html", "notes.txt"})
        QFile(dir.filePath(name)).open(QIODevice::WriteOnly);
    QFileDialog dialog(nullptr, QString(), dir.path(), templates::dialogFilter(texts::openFilter));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.selectNameFilter("All (*)");
    auto *model = dialog.findChild<QFileSystemModel *>();
    ASSERT_NE(model, nullptr);
    QSignalSpy loaded(model, &QFileSystemModel::directoryLoaded);
    dialog.show();
    ASSERT_TRUE(loaded.wait(10000) || model->rowCount(model->index(dir.path())) > 0);
    QStringList listed;
    auto *view = dialog.findChild<QListView *>("listView");
    ASSERT_NE(view, nullptr);
    for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row)
        listed.append(view->model()->index(row, 0, view->rootIndex()).data().toString());
    listed.sort();
    EXPECT_EQ(listed, QStringList({"birthday", "birthday.html", "notes.txt"}));
    EXPECT_EQ(dialog.nameFilters().last(), "All (*)");
}

namespace {

// The text of a page, asked in the program's own script world (the page's
// own scripts are off).
QString pageText(QWebEnginePage *page, const QString &script = "document.documentElement.outerHTML")
{
    QString text;
    QEventLoop loop;
    page->runJavaScript(script, QWebEngineScript::ApplicationWorld, [&](const QVariant &v) {
        text = v.toString();
        loop.quit();
    });
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    return text;
}

} // namespace

TEST_F(TemplateFixture, AHostileTemplateStaysADocumentInTheEditorAndThePreview)
{
    open();
    const QString folder = store.dir.path() + "/site/templates";
    QDir().mkpath(folder);
    store.write(store.dir.path() + "/site/private.txt", "PRIVATE-SECRET");
    const QString secret = QUrl::fromLocalFile(store.dir.path() + "/site/private.txt").toString();
    const QList<QByteArray> attacks = {
        "<meta http-equiv=\"refresh\" content=\"0; url=../private.txt\">",
        "<meta http-equiv=\"refresh\" content=\"0; url=" + secret.toUtf8() + "\">",
        "<iframe src=\"../private.txt\"></iframe>",
        "<object data=\"../private.txt\" type=\"text/plain\"></object>",
        "<script>var x = new XMLHttpRequest(); x.open('GET', '../private.txt', false); x.send();"
        " document.title = 'ran ' + x.responseText; alert('boo'); window.open('../private.txt');</script>",
    };
    QStringList refused;
    DocumentPage *design = editor("EditorB")->documentPage();
    QObject::connect(design, &DocumentPage::refused, [&](const QUrl &u) { refused.append(u.toString()); });
    for (const QByteArray &attack : attacks) {
        const QString file = folder + "/hostile.html";
        store.write(file, "<html><head>" + attack +
                              "</head><body><p>TEMPLATE-TEXT</p>"
                              "<a id=\"l\" href=\"../private.txt\">link</a></body></html>");
        dialogs.answers = {file};
        window->editor('B').openClick();
        QTest::qWait(400); // a refresh of 0 s would have gone by now
        const QString html = editor("EditorB")->documentHtml();
        EXPECT_TRUE(html.contains("TEMPLATE-TEXT")) << attack.constData();
        EXPECT_FALSE(html.contains("PRIVATE")) << attack.constData();
        EXPECT_FALSE(pageText(design, "document.title").startsWith("ran")) << "a template script ran";

        // A link clicked in the design view goes nowhere.
        pageText(design, "document.getElementById('l').click(); ''");
        QTest::qWait(300);
        EXPECT_TRUE(editor("EditorB")->documentHtml().contains("TEMPLATE-TEXT")) << attack.constData();

        // The preview shows the same template, with scripts off, and goes nowhere.
        auto *tabs = find<QTabWidget>("SSTab2");
        tabs->setCurrentIndex(2);
        auto *preview = find<QWebEngineView>("WbrPreviewB");
        QSignalSpy loaded(preview, &QWebEngineView::loadFinished);
        loaded.wait(5000);
        QTest::qWait(400);
        EXPECT_EQ(preview->url(), QUrl::fromLocalFile(window->previewPath())) << attack.constData();
        const QString shown = pageText(preview->page());
        EXPECT_TRUE(shown.contains("TEMPLATE-TEXT")) << attack.constData();
        EXPECT_FALSE(shown.contains("PRIVATE")) << attack.constData();
        EXPECT_FALSE(pageText(preview->page(), "document.title").startsWith("ran")) << "a preview script ran";
        tabs->setCurrentIndex(0);
    }
    EXPECT_TRUE(prompter.boxes.isEmpty()); // no box opened
    EXPECT_FALSE(refused.isEmpty());       // the page tried, and was refused
    for (QWidget *w : QApplication::topLevelWidgets())
        EXPECT_FALSE(w->isVisible() && w != window.get()) << w->metaObject()->className();
}

TEST_F(TemplateFixture, ImageGoesToTheStartWhenTheEditorHasNoCaret)
{
    open();
    const QString file = store.dir.path() + "/t.html";
    store.write(file, "<html><body><p>first</p><p>second</p></body></html>");
    store.write(store.dir.path() + "/cake.png",
                QByteArray::fromBase64("iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAf"
                                       "FcSJAAAADUlEQVR42mNk+M9QDwADhgGAWjR9awAAAABJRU5ErkJggg=="));
    dialogs.answers = {file, store.dir.path() + "/cake.png"};
    window->editor('B').openClick();
    window->editor('B').imageClick(); // right after Open, never clicked into
    const QString html = editor("EditorB")->documentHtml();
    EXPECT_TRUE(html.contains(QRegularExpression("<body><p><img src=\"file://[^\"]*cake.png\"[^>]*>first</p>")))
        << html.toStdString();
}

TEST_F(TemplateFixture, FontStartsFromTheSelectionAndAppliesItExactly)
{
    open();
    setDocument("EditorB", "<html><body><p>plain <span id=\"s\" style=\"font-family: 'DejaVu Serif'; "
                           "font-size: 14pt; font-weight: bold; font-style: italic\">styled</span></p></body></html>");
    DocumentPage *page = editor("EditorB")->documentPage();
    pageText(page, "var r = document.createRange(); r.selectNodeContents(document.getElementById('s'));"
                   " getSelection().removeAllRanges(); getSelection().addRange(r); ''");
    dialogs.font = QFont("DejaVu Sans", 12);
    dialogs.font->setBold(true);
    window->editor('B').fontClick();
    EXPECT_EQ(dialogs.initialFont.family(), "DejaVu Serif");
    EXPECT_DOUBLE_EQ(dialogs.initialFont.pointSizeF(), 14.0);
    EXPECT_TRUE(dialogs.initialFont.bold());
    EXPECT_TRUE(dialogs.initialFont.italic());
    // The chosen family, its exact size and bold, not italic any more.
    const QString style =
        pageText(page, "var c = getComputedStyle(getSelection().getRangeAt(0).startContainer"
                       ".parentNode); [c.fontFamily, c.fontSize, c.fontWeight, c.fontStyle].join('|')");
    EXPECT_EQ(style, "\"DejaVu Sans\"|16px|700|normal") << style.toStdString();

    // Cancelled: nothing changes.
    dialogs.font.reset();
    const QString before = editor("EditorB")->documentHtml();
    window->editor('B').fontClick();
    EXPECT_EQ(editor("EditorB")->documentHtml(), before);
}

TEST_F(TemplateFixture, EightBitAndMarkedTemplatesRoundTrip)
{
    // Opened, shown as written, and saved unchanged in their own encoding
    // with their declaration (the golden files hold the editor's own
    // serialisation of the document).
    open();
    const struct {
        const char *file;
        const char *shows;
    } forms[] = {{"template-windows-1252.html", "Joyeux anniversaire au Café — à bientôt! €5"},
                 {"template-iso-8859-1.html", "Grüße, Jürgen! Señor Müller ½"},
                 {"template-utf8-bom.html", "Happy birthday ☺ — Ünïcödé"},
                 {"template-undeclared-8bit.txt", "Lieber Günther, alles Gute zum Geburtstag! Grüße aus Köln"}};
    for (const auto &form : forms) {
        const QString saved = store.dir.path() + "/" + form.file;
        dialogs.answers = {QStringLiteral(TEST_DATA_DIR "/") + form.file, saved};
        window->editor('O').openClick();
        EXPECT_TRUE(editor("EditorO")->documentHtml().contains(QString::fromUtf8(form.shows))) << form.file;
        window->editor('O').saveClick();
        EXPECT_TRUE(matchesGolden(store.read(saved), (QByteArray(form.file) + ".ref").constData()));
    }
    EXPECT_TRUE(prompter.boxes.isEmpty());
}
