#pragma once

#include <QString>

namespace templates {

// The local file an image source names: a file: URL or an absolute path gives
// the (percent-decoded) path; a source with a backslash keeps the old rule
// (from two characters before the first backslash); web sources give nothing.
QString imagePathFromSource(const QString &src);

// Whether a file is a picture by its content, so a template cannot make a run
// attach some other local file.
bool isImageFile(const QString &path);

} // namespace templates
