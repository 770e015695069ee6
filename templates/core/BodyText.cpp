#include "templates/core/BodyText.h"

namespace templates {

namespace {

// Every match of tag (case ignored) replaced by what make gives for the match.
template <typename Make> QString replaceNoCase(const QString &html, QLatin1String tag, Make make)
{
    QString out;
    qsizetype from = 0;
    for (;;) {
        const qsizetype at = html.indexOf(tag, from, Qt::CaseInsensitive);
        if (at < 0)
            break;
        out += QStringView(html).mid(from, at - from);
        out += make(QStringView(html).mid(at, tag.size()));
        from = at + tag.size();
    }
    if (from == 0)
        return html;
    out += QStringView(html).mid(from);
    return out;
}

} // namespace

QString insertAfterBodyTag(const QString &html, const QString &text)
{
    return replaceNoCase(html, QLatin1String("<BODY>"), [&](QStringView) { return QLatin1String("<BODY>") + text; });
}

QString insertBeforeBodyEnd(const QString &html, const QString &text)
{
    return replaceNoCase(html, QLatin1String("</BODY>"), [&](QStringView) { return text + QLatin1String("</BODY>"); });
}

} // namespace templates
