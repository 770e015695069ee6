#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace hostmail::mime {

// Whether a reference in HTML names a file of this machine: a file: URL, an
// absolute path, or a Windows path (a drive letter or a backslash).
bool isLocalReference(const QString &reference);

// The file a local reference names by its absolute path (a file: URL
// percent-decoded), or empty.
QString localPathOf(const QString &reference);

// A reference of a parsed document that names a local file.
struct LocalReference {
    QString place;        // where it is: "img src", "video poster", "style url()", ...
    QString value;        // as a reader sees it, character references decoded
    QString path;         // the file it names, or empty (a Windows path)
    bool picture = false; // shown as a picture: img src, background, CSS url()
    bool image = false;   // the source of an image element (img src)
};

// Every local reference of html, in document order, found by an HTML parser:
// in any attribute that names a resource (src, srcset, href, xlink:href,
// background, poster, data, action, ...), in CSS url() of style attributes
// and style elements, and in a meta refresh.
QList<LocalReference> localReferences(const QString &html);
// The local files that html shows as pictures, each once, in order: the one
// rule of what a template's local picture is.
QStringList localPictures(const QString &html);

// html as it may leave this machine: every local picture reference becomes
// what replacement gives for its file ("cid:..."), or is emptied when it
// gives nothing; every other local reference is emptied; scripts, event
// handler attributes and javascript: references are removed. What was
// emptied or removed is added to removed (when given), one line each. All
// other bytes stay as they were.
QString rewriteLocalReferences(const QString &html, const std::function<QString(const QString &path)> &replacement,
                               QStringList *removed = nullptr);

} // namespace hostmail::mime
