#pragma once

#include "templates/core/TemplateDocument.h"
#include "templates/core/TemplateEncoding.h"

#include <QUrl>
#include <QWebEngineView>

namespace templates {

class DocumentPage;

// The visual HTML editor of a template: a web page in design mode. The
// document is read back synchronously as one HTML text and as its images.
class DesignEditor : public QWebEngineView {
    Q_OBJECT
public:
    explicit DesignEditor(QWidget *parent = nullptr);

    // The two display options switched on at start-up: show the borders of
    // tables and images with zero border, and show element outlines.
    void setDisplayOptions(bool zeroBorders, bool details);

    // Replaces the whole document; relative references resolve against base.
    void setDocument(const QString &html, const QUrl &base = QUrl());
    // Loads a file as HTML, whatever its type, decoded by its byte-order mark
    // or declared charset (see decodeTemplate). Returns false, with the
    // reason, when it cannot be read; the document then stays as it was.
    bool loadFile(const QString &path, QString *error);
    // Writes the document to exactly path, atomically, in the encoding the
    // file it was opened from had (see encodeTemplate).
    bool saveFile(const QString &path) const;
    DocumentPage *documentPage() const { return m_page; }

    QString documentHtml() const;
    // The document as the send runs take it, read from the page once: its
    // HTML with every picture reference made absolute (as the images resolve
    // it), so that the host can find the file each names.
    TemplateDocument document() const;

    // Inserts a picture at the caret, or at the start of the document when it
    // has none (just opened, never clicked into).
    void insertImage(const QUrl &source);
    // The font of the selection (its family as installed, size, bold, italic),
    // which the font dialog starts from.
    QFont selectionFont() const;
    // Applies family, exact point size, bold and italic to the selection.
    void applyFont(const QFont &font);
    void execCommand(const QString &command, const QString &value = QString());

    // Runs script in the page and waits for its result (up to 10 s).
    QVariant evaluate(const QString &script) const;

private:
    void waitForLoad() const;
    void ensureCaret();
    void applyDisplayOptions();
    DocumentPage *m_page;
    FileEncoding m_encoding; // of the file last opened
    bool m_loading = false;
    bool m_zeroBorders = false;
    bool m_details = false;
};

} // namespace templates
