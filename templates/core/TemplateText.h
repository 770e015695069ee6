#pragma once

#include <QString>

namespace templates {

// The generator tag that the source view leaves out.
inline const QString kGeneratorTag =
    QStringLiteral("<META NAME=\"GENERATOR\" Content=\"Microsoft DHTML Editing Control\">");

// html with every occurrence of the generator tag removed, letter case ignored.
QString removeGeneratorTag(const QString &html);

// "HTML|*.html|All|*.*" as a QFileDialog filter: "HTML (*.html);;All (*)", where
// "*.*" means every file, with or without a dot in its name.
QString dialogFilter(const QString &pairs);

// The shared preview file "temp.html": in the program's folder when that is
// writable, else in the user's cache folder.
QString previewFilePath(const QString &programFolder);
// Replaces the preview file with html; returns false when it cannot be written.
bool writePreviewFile(const QString &path, const QString &html);

} // namespace templates
