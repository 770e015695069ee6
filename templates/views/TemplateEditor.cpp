#include "templates/views/TemplateEditor.h"

#include "common/core/Prompter.h"
#include "templates/core/TemplateText.h"
#include "templates/views/DesignEditor.h"
#include "templates/views/Dialogs.h"
#include "templates/views/DocumentPage.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QUrl>
#include <QWebEngineView>

namespace templates {

TemplateEditor::TemplateEditor(QChar letter, const TemplateControls &controls, common::Prompter &prompter,
                               Dialogs &dialogs, QString previewPath, QObject *parent)
    : QObject(parent), m_letter(letter), m_prompter(prompter), m_dialogs(dialogs),
      m_previewPath(std::move(previewPath)), m_c(controls)
{
    // The preview shows the template as a document too: no script, no
    // navigation, nothing loaded but the file and its local pictures.
    m_previewPage = new DocumentPage(m_c.preview);
    m_c.preview->setPage(m_previewPage);

    connect(m_c.tabs, &QTabWidget::currentChanged, this, [this](int index) {
        const int previous = m_current;
        m_current = index;
        tabClick(previous);
    });
    connect(m_c.open, &QPushButton::clicked, this, &TemplateEditor::openClick);
    connect(m_c.save, &QPushButton::clicked, this, &TemplateEditor::saveClick);
    connect(m_c.image, &QPushButton::clicked, this, &TemplateEditor::imageClick);
    connect(m_c.font, &QPushButton::clicked, this, &TemplateEditor::fontClick);
    connect(m_c.attach, &QPushButton::clicked, this, &TemplateEditor::attachClick);
}

void TemplateEditor::prepare()
{
    m_c.editor->setDisplayOptions(true, true);
    m_previewPage->showUrl(QUrl(QStringLiteral("about:blank")));
    m_clean = m_c.editor->documentHtml();
}

QString TemplateEditor::kindName() const
{
    return m_letter == QLatin1Char('B')   ? QStringLiteral("birthday")
           : m_letter == QLatin1Char('A') ? QStringLiteral("anniversary")
                                          : QStringLiteral("bulk mail");
}

void TemplateEditor::markClean(const QString &path)
{
    m_path = path;
    m_clean = m_c.editor->documentHtml();
    Q_EMIT fileChanged(path);
}

bool TemplateEditor::loadFile(const QString &path)
{
    QString error;
    if (!m_c.editor->loadFile(path, &error))
        return false;
    markClean(path);
    return true;
}

bool TemplateEditor::isModified() const
{
    return m_c.editor->documentHtml() != m_clean;
}

bool TemplateEditor::isExample(const QString &path) const
{
    if (m_exampleFolder.isEmpty() || path.isEmpty())
        return false;
    const QString folder = QFileInfo(m_exampleFolder).canonicalFilePath();
    const QString dir = QFileInfo(QFileInfo(path).absolutePath()).canonicalFilePath();
    return !folder.isEmpty() && (dir == folder || dir.startsWith(folder + QLatin1Char('/')));
}

// Where Save As starts: the user's own templates, never the examples.
QString TemplateEditor::saveFolder() const
{
    if (!m_userFolder.isEmpty() && QDir().mkpath(m_userFolder))
        return m_userFolder;
    return m_path.isEmpty() || isExample(m_path) ? QString() : QFileInfo(m_path).absolutePath();
}

bool TemplateEditor::saveTo(const QString &path)
{
    if (isExample(path)) {
        m_prompter.tell(common::kAppTitle,
                        QStringLiteral("The example templates are kept as they are shipped: save yours in another "
                                       "folder."),
                        common::MessageIcon::Exclamation);
        return false;
    }
    if (!m_c.editor->saveFile(path)) {
        m_prompter.tell(common::kAppTitle, kCannotSave, common::MessageIcon::Critical);
        return false;
    }
    markClean(path);
    return true;
}

bool TemplateEditor::saveChangesIfWanted()
{
    if (!isModified() ||
        !m_prompter.askYesNo(
            common::kAppTitle,
            QStringLiteral("The %1 template has changes that are not saved.\rSave them now?").arg(kindName())))
        return true;
    const QString path = m_path.isEmpty() || isExample(m_path)
                             ? m_dialogs.saveFile(m_c.tabs->window(), kSaveFilter, saveFolder())
                             : m_path;
    return !path.isEmpty() && saveTo(path);
}

TemplateDocument TemplateEditor::document() const
{
    return m_c.editor->document();
}

QString TemplateEditor::attachmentPath() const
{
    return m_c.file->text();
}

void TemplateEditor::tabClick(int previousTab)
{
    if (previousTab == 0)
        m_c.source->setPlainText(removeGeneratorTag(m_c.editor->documentHtml()));
    if (previousTab == 0 || previousTab == 1) {
        // A preview file that cannot be written still sends the browser to its path.
        writePreviewFile(m_previewPath, m_c.editor->documentHtml());
        m_previewPage->showUrl(QUrl::fromLocalFile(m_previewPath));
    }
}

void TemplateEditor::openClick()
{
    if (!saveChangesIfWanted())
        return;
    const QString path = m_dialogs.openFile(m_c.tabs->window(), kOpenFilter,
                                            m_path.isEmpty() ? m_startFolder : QFileInfo(m_path).absolutePath());
    if (path.isEmpty())
        return;
    QString error;
    if (!m_c.editor->loadFile(path, &error))
        m_prompter.tell(common::kAppTitle, QStringLiteral("Can\u2019t open the file %1: %2").arg(path, error),
                        common::MessageIcon::Critical);
    else
        markClean(path);
}

void TemplateEditor::saveClick()
{
    const QString path = m_dialogs.saveFile(m_c.tabs->window(), kSaveFilter, saveFolder());
    if (!path.isEmpty())
        saveTo(path);
}

void TemplateEditor::imageClick()
{
    const QString path = m_dialogs.openFile(m_c.tabs->window(), kImageFilter);
    if (!path.isEmpty())
        m_c.editor->insertImage(QUrl::fromLocalFile(path));
}

void TemplateEditor::fontClick()
{
    // The dialog starts from the selection's own font, so every style of its
    // family is offered.
    if (const std::optional<QFont> font = m_dialogs.chooseFont(m_c.tabs->window(), m_c.editor->selectionFont()))
        m_c.editor->applyFont(*font);
}

void TemplateEditor::attachClick()
{
    // The chosen path replaces the box's text; a cancelled dialog empties it.
    m_c.file->setText(m_dialogs.openFile(m_c.tabs->window(), kAttachFilter));
}

} // namespace templates
