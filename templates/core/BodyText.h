#pragma once

#include <QString>

namespace templates {

// Inserts text after every "<BODY>" (letter case ignored; the tag comes out as
// "<BODY>"), as plain text: the caller escapes what must be escaped.
QString insertAfterBodyTag(const QString &html, const QString &text);

// Inserts text before every "</BODY>" (letter case ignored; the tag comes out
// as "</BODY>").
QString insertBeforeBodyEnd(const QString &html, const QString &text);

} // namespace templates
