#include "templates/core/BodyText.h"

#include <QRegularExpression>

namespace templates {

QString insertAfterBodyTag(const QString &html, const QString &text)
{
    const QLatin1String open("<body");
    for (qsizetype at = html.indexOf(open, 0, Qt::CaseInsensitive); at >= 0;
         at = html.indexOf(open, at + 1, Qt::CaseInsensitive)) {
        const qsizetype next = at + open.size();
        if (next < html.size() && !html.at(next).isSpace() && html.at(next) != QLatin1Char('>') &&
            html.at(next) != QLatin1Char('/'))
            continue; // <bodyx> is another tag
        // The tag ends at the first '>' outside a quoted attribute value.
        QChar quote;
        qsizetype end = next;
        for (; end < html.size(); ++end) {
            const QChar c = html.at(end);
            if (!quote.isNull()) {
                if (c == quote)
                    quote = QChar();
            } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
                quote = c;
            } else if (c == QLatin1Char('>')) {
                break;
            }
        }
        if (end >= html.size())
            return html; // an unclosed tag takes nothing
        // A bare tag comes out as <BODY>; one with attributes stays as written.
        const bool bare = end == next;
        return html.left(at) + (bare ? QStringLiteral("<BODY>") : html.mid(at, end + 1 - at)) + text +
               html.mid(end + 1);
    }
    return html;
}

bool showsNothing(const QString &html)
{
    // What a reader would see: text outside head, scripts, styles and
    // comments, or a picture or other embedded element.
    static const QRegularExpression hidden(QStringLiteral("<!--.*?-->|<(head|script|style|title)\\b.*?</\\1\\s*>"),
                                           QRegularExpression::CaseInsensitiveOption |
                                               QRegularExpression::DotMatchesEverythingOption);
    QString visible = html;
    visible.remove(hidden);
    static const QRegularExpression media(QStringLiteral("<(img|svg|video|object|embed|iframe|canvas|hr)\\b"),
                                          QRegularExpression::CaseInsensitiveOption);
    if (visible.contains(media))
        return false;
    static const QRegularExpression tags(QStringLiteral("<[^>]*>"));
    visible.remove(tags);
    visible.replace(QLatin1String("&nbsp;"), QLatin1String(" "), Qt::CaseInsensitive);
    visible.replace(QLatin1String("&#160;"), QLatin1String(" "));
    visible.replace(QChar(0xA0), QLatin1Char(' '));
    return visible.trimmed().isEmpty();
}

QString insertBeforeBodyEnd(const QString &html, const QString &text)
{
    const qsizetype at = html.lastIndexOf(QLatin1String("</body>"), -1, Qt::CaseInsensitive);
    if (at < 0)
        return html;
    return html.left(at) + text + QLatin1String("</BODY>") + html.mid(at + 7);
}

} // namespace templates
