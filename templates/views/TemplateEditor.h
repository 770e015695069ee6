#pragma once

#include "templates/core/TemplateDocument.h"

#include <QObject>
#include <QString>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QWebEngineView;
class QWidget;

namespace common {
class Prompter;
}

namespace templates {

class DesignEditor;
class DocumentPage;
class Dialogs;

inline const QString kOpenFilter = QStringLiteral("HTML|*.html|RTF|*.rtf|Text|*.txt|All|*.*");
inline const QString kSaveFilter = QStringLiteral("HTML|*.html|RTF|*.rtf|Text|*.txt");
inline const QString kAttachFilter = QStringLiteral("JPG|*.jpg|All|*.*");
inline const QString kImageFilter = QStringLiteral("Pictures|*.jpg *.jpeg *.png *.gif *.bmp *.svg *.webp|All|*.*");
inline const QString kCannotSave = QStringLiteral("Can\u2019t save the file, try again.");

// The controls of one template's editor, as the page's form holds them.
struct TemplateControls {
    QTabWidget *tabs; // Design, HTML and Preview
    DesignEditor *editor;
    QPlainTextEdit *source;
    QWebEngineView *preview;
    QLineEdit *file;
    QPushButton *open, *save, *image, *font, *attach;
};

// One template's editor on a page (letter A, B or O): the Design, HTML and
// Preview tabs and the Open, Save, Image, Font and Attach commands.
class TemplateEditor : public QObject {
    Q_OBJECT
public:
    TemplateEditor(QChar letter, const TemplateControls &controls, common::Prompter &prompter, Dialogs &dialogs,
                   QString previewPath, QObject *parent);

    // Switches on the editor's two display options and shows about:blank.
    void prepare();
    // Opens a template file as the Open command does; false, with nothing
    // said, when it cannot be read.
    bool loadFile(const QString &path);
    // The file last opened or saved here, or empty.
    QString filePath() const { return m_path; }
    // Where the Open dialog starts while no file was opened.
    void setStartFolder(const QString &folder) { m_startFolder = folder; }
    // The shipped examples are never written: saving one saves a copy,
    // starting in the user's own folder of templates.
    void setExampleFolders(const QString &examples, const QString &userFolder)
    {
        m_exampleFolder = examples;
        m_userFolder = userFolder;
    }
    bool isExample(const QString &path) const;
    // Whether the document changed since it was opened, saved or prepared.
    bool isModified() const;
    // Asks, when there are unsaved changes, whether to save them, and saves
    // on Yes. False only when the save was wanted but failed.
    bool saveChangesIfWanted();
    // "birthday", "anniversary" or "bulk mail".
    QString kindName() const;
    TemplateDocument document() const;
    QChar letter() const { return m_letter; }
    QString attachmentPath() const;

    // The tab control's handler, given the tab that was active before.
    void tabClick(int previousTab);
    void openClick();
    void saveClick();
    void imageClick();
    void fontClick();
    void attachClick();

Q_SIGNALS:
    // A file was opened or saved: the one to open at the next start.
    void fileChanged(const QString &path);

private:
    bool saveTo(const QString &path);
    void markClean(const QString &path);
    QString saveFolder() const;
    QChar m_letter;
    common::Prompter &m_prompter;
    Dialogs &m_dialogs;
    QString m_previewPath;
    TemplateControls m_c;
    DocumentPage *m_previewPage;
    int m_current = 0;
    QString m_path;
    QString m_startFolder;
    QString m_exampleFolder;
    QString m_userFolder;
    QString m_clean; // the document as last opened, saved or prepared
};

} // namespace templates
