#pragma once

#include <QString>

namespace templates {

// Replaces every "<BODY>" text (letter case ignored) by "<BODY>" followed
// by text, as plain text: the caller escapes what must be escaped. A body
// tag with attributes is no "<BODY>" text and gets nothing; so does html
// without one.
QString insertAfterBodyTag(const QString &html, const QString &text);
// Whether html holds a "<BODY>" text for the salutation.
bool hasBodyText(const QString &html);
// What a run's closing message says of a template without one.
QString noSalutationNote(const QString &which);

// Inserts text once, before the last "</BODY>" (letter case ignored; the tag
// comes out as "</BODY>").
QString insertBeforeBodyEnd(const QString &html, const QString &text);

// Whether a document shows a reader nothing: no text, no picture.
bool showsNothing(const QString &html);

} // namespace templates
