#pragma once

#include <QString>

namespace hostmail::mime {

// A plain-text rendering of an HTML body for the text/plain alternative:
// paragraphs, headings, list items, table rows and line breaks become line
// breaks, a link keeps its target ("text <https://...>"), entities are
// decoded, head, style and script are left out, and runs of blanks fold into
// one. Lines end with "\n".
QString plainTextFromHtml(const QString &html);

// text with its character references decoded: named ones (&amp;, &nbsp;,
// &euro;...), decimal and hexadecimal ones. An unknown name stays as written.
QString decodeHtmlEntities(const QString &text);

} // namespace hostmail::mime
