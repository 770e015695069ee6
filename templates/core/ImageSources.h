#pragma once

#include <QString>
#include <QStringList>

namespace templates {

// The local file an image source names: a file: URL or an absolute path gives
// the (percent-decoded) path; a source with a backslash keeps the old rule
// (from two characters before the first backslash); web sources give nothing.
QString imagePathFromSource(const QString &src);

// What a template's HTML names beyond its image elements: the local
// pictures named by background or CSS url() that are not listed yet (they are
// attached and shown inline like the others), and the other local files it
// names, which never leave in a mail ("VALUE (PLACE)").
struct TemplateFiles {
    QStringList morePictures;
    QStringList leftOut;
};
TemplateFiles templateFiles(const QString &html, const QStringList &listed);

// Whether a file is a picture by its content, so a template cannot make a run
// attach some other local file.
bool isImageFile(const QString &path);

} // namespace templates
