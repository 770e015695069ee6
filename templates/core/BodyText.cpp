#include "templates/core/BodyText.h"

#include <QRegularExpression>

namespace templates {

QString insertAfterBodyTag(const QString &html, const QString &text)
{
    static const QLatin1String tag("<body>");
    QString out;
    qsizetype from = 0;
    for (qsizetype at = html.indexOf(tag, 0, Qt::CaseInsensitive); at >= 0;
         at = html.indexOf(tag, from, Qt::CaseInsensitive)) {
        out += QStringView(html).mid(from, at - from);
        out += QLatin1String("<BODY>") + text;
        from = at + tag.size();
    }
    if (from == 0)
        return html;
    out += QStringView(html).mid(from);
    return out;
}

bool hasBodyText(const QString &html)
{
    return html.contains(QLatin1String("<body>"), Qt::CaseInsensitive);
}

QString noSalutationNote(const QString &which)
{
    return QStringLiteral("The %1 carry no salutation: the template has no plain <BODY> tag to put it after (a body "
                          "tag with attributes gets none).")
        .arg(which);
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
