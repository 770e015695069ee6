#pragma once

#include <QString>

#include <functional>

namespace hostmail::mime {

// Whether a reference in HTML names a file of this machine: a file: URL, an
// absolute path, or a Windows path (a drive letter or a backslash).
bool isLocalReference(const QString &reference);

// The file a local reference names (a file: URL percent-decoded), or empty.
QString localPathOf(const QString &reference);

// Rewrites every local reference of html: the src, background and href
// attributes and CSS url() values. replacement gets the file's path and
// returns what the reference becomes ("cid:..."), or an empty text, which
// empties the reference: no local path of the sender is left in the result.
QString rewriteLocalReferences(const QString &html, const std::function<QString(const QString &path)> &replacement);

} // namespace hostmail::mime
