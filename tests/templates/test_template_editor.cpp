#include "templates/core/TemplateText.h"
#include "templates/views/DesignEditor.h"
#include "templates/views/TemplateEditor.h"

#include "support/MainWindowFixture.h"
#include "support/ProgramTexts.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
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

TEST_F(TemplateFixture, StartsEmptyWithBlankPreviews)
{
    open();
    for (const char *p : {"WbrPreviewA", "WbrPreviewB", "WbrPreviewO"})
        EXPECT_EQ(find<QWebEngineView>(p)->url().toString(), "about:blank") << p;
    EXPECT_EQ(editor("EditorB")->documentHtml(), "<html><head></head><body></body></html>");
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
    files.answers = {folder + "/birthday.txt"};
    window->editor('B').openClick();
    EXPECT_EQ(files.filters.last(), texts::openFilter);
    const TemplateDocument doc = window->editor('B').document();
    EXPECT_TRUE(doc.html.contains("<body><p>Hi</p>")) << doc.html.toStdString();
    EXPECT_EQ(doc.imageSources,
              QStringList({QUrl::fromLocalFile(folder + "/cake.png").toString(), "https://example.org/w.png"}));

    // An unreadable file is reported and the document stays.
    files.answers = {folder + "/missing.html"};
    window->editor('B').openClick();
    EXPECT_EQ(prompter.boxes.last().icon, common::MessageIcon::Critical);
    EXPECT_TRUE(window->editor('B').document().html.contains("<p>Hi</p>"));
}

TEST_F(TemplateFixture, SaveWritesTheExactPathOrSaysItCannot)
{
    open();
    setDocument("EditorO", "<html><body><p>Bulk</p></body></html>");
    files.answers = {store.dir.path() + "/plain"};
    window->editor('O').saveClick();
    EXPECT_EQ(files.filters.last(), texts::saveFilter);
    EXPECT_TRUE(store.read(store.dir.path() + "/plain").contains("<p>Bulk</p>"));
    EXPECT_TRUE(prompter.boxes.isEmpty());

    files.answers = {store.dir.path() + "/no/such/folder/x.html"};
    window->editor('O').saveClick();
    ASSERT_EQ(prompter.boxes.size(), 1);
    EXPECT_EQ(prompter.boxes.last().text, "Can\u2019t save the file, try again.");
    EXPECT_EQ(prompter.boxes.last().title, "Cheerpost");
    EXPECT_EQ(prompter.boxes.last().icon, common::MessageIcon::Critical);
}

TEST_F(TemplateFixture, AttachReplacesOnlyItsOwnBox)
{
    open();
    files.answers = {"/pics/a.jpg", "/pics/b.jpg", "/pics/o.jpg"};
    window->editor('A').attachClick();
    window->editor('B').attachClick();
    window->editor('O').attachClick();
    EXPECT_EQ(files.filters.last(), texts::attachFilter);
    window->editor('B').attachClick(); // cancelled
    EXPECT_EQ(find<QLineEdit>("TxtAFile")->text(), "/pics/a.jpg");
    EXPECT_EQ(find<QLineEdit>("TxtBFile")->text(), "");
    EXPECT_EQ(find<QLineEdit>("TxtOFile")->text(), "/pics/o.jpg");
    EXPECT_FALSE(find<QLineEdit>("TxtAFile")->isEnabled());
}
