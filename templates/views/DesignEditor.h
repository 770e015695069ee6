#pragma once

#include "templates/core/TemplateDocument.h"

#include <QUrl>
#include <QWebEngineView>

namespace templates {

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
    // Loads a file as HTML, whatever its type. Returns false, with the reason,
    // when it cannot be read; the document then stays as it was.
    bool loadFile(const QString &path, QString *error);
    // Writes the document to exactly path, atomically.
    bool saveFile(const QString &path) const;

    QString documentHtml() const;
    QStringList imageSources() const;
    // The document as the send runs take it: its HTML with every picture
    // reference made absolute (as the images resolve it), so that the host can
    // find the file each names, and its images' sources.
    TemplateDocument document() const;

    void insertImage(const QUrl &source);
    void applyFont(const QString &family, int pointSize, bool bold, bool italic);
    void execCommand(const QString &command, const QString &value = QString());

    // Runs script in the page and waits for its result (up to 10 s).
    QVariant evaluate(const QString &script) const;

private:
    void waitForLoad() const;
    void applyDisplayOptions();
    bool m_loading = false;
    bool m_zeroBorders = false;
    bool m_details = false;
};

} // namespace templates
