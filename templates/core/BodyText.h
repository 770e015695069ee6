#pragma once

#include <QString>

namespace templates {

// Inserts text once, right after the first body tag, whatever its attributes
// (letter case ignored; a bare tag comes out as "<BODY>"), as plain text: the
// caller escapes what must be escaped. Without a body tag html stays.
QString insertAfterBodyTag(const QString &html, const QString &text);

// Inserts text once, before the last "</BODY>" (letter case ignored; the tag
// comes out as "</BODY>").
QString insertBeforeBodyEnd(const QString &html, const QString &text);

// Whether a document shows a reader nothing: no text, no picture.
bool showsNothing(const QString &html);

} // namespace templates
