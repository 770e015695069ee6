#include "greetings/core/Composition.h"

#include <QMimeDatabase>
#include <QUrl>

namespace greetings {

QString subjectLine(const OccasionSettings &s, const QString &dateText)
{
    if (s.subjectCustom && !s.printDate)
        return s.subjectText();
    return s.subjectText() + QLatin1String(" - ") + dateText;
}

QString salutationLine(OccasionKind kind, const OccasionSettings &s, const QString &firstName, const QString &spouse)
{
    const QString text = s.salutationText().trimmed();
    if (s.salutationCustom && !s.printNames)
        return text + QLatin1Char(',');
    QString line = text + QLatin1Char(' ') + firstName;
    if (kind == OccasionKind::Anniversary && !spouse.isEmpty())
        line += QLatin1String(" and ") + spouse;
    return line + QLatin1Char(',');
}

namespace {

QString replaceNoCase(const QString &html, const QString &tag, const QString &with)
{
    QString out;
    qsizetype from = 0;
    for (;;) {
        const qsizetype at = html.indexOf(tag, from, Qt::CaseInsensitive);
        if (at < 0)
            break;
        out += QStringView(html).mid(from, at - from);
        out += with;
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
    return replaceNoCase(html, QStringLiteral("<BODY>"), QLatin1String("<BODY>") + text);
}

QString composeBody(const QString &html, const QString &salutation, const QString &children)
{
    QString body = insertAfterBodyTag(html, salutation);
    if (!children.isEmpty()) {
        // Replacement keeps the end tag's own case.
        QString out;
        qsizetype from = 0;
        for (;;) {
            const qsizetype at = body.indexOf(QLatin1String("</BODY>"), from, Qt::CaseInsensitive);
            if (at < 0)
                break;
            out += QStringView(body).mid(from, at - from);
            out += children;
            out += QStringView(body).mid(at, 7);
            from = at + 7;
        }
        out += QStringView(body).mid(from);
        body = out;
    }
    return body;
}

QString childrenLine(const QString &lead, const QString &children)
{
    if (children.trimmed().isEmpty())
        return {};
    return lead.trimmed() + QLatin1Char(' ') + children.trimmed();
}

QString imagePathFromSource(const QString &src)
{
    const qsizetype slash = src.indexOf(QLatin1Char('\\'));
    if (slash >= 0) {
        // 1-based position p of the first backslash; the path starts at p - 2.
        if (slash + 1 <= 2)
            return {};
        return src.mid(slash - 2);
    }
    if (src.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
        const QUrl url(src);
        return url.isLocalFile() ? url.toLocalFile() : QString();
    }
    if (src.startsWith(QLatin1Char('/')))
        return src;
    return {};
}

QString imageAttachmentList(const QStringList &imageSources)
{
    QStringList paths;
    for (const QString &src : imageSources) {
        const QString p = imagePathFromSource(src);
        if (!p.isEmpty())
            paths.append(p);
    }
    return paths.join(QLatin1Char(';'));
}

QStringList attachmentPaths(const QString &imageList, const QString &attachmentPath)
{
    QStringList out;
    if (!imageList.isEmpty()) {
        const QStringList parts = imageList.split(QLatin1Char(';'));
        for (qsizetype i = 0; i < parts.size(); ++i) {
            if (i == 0 || parts.at(i).compare(parts.at(i - 1), Qt::CaseInsensitive) != 0)
                out.append(parts.at(i));
        }
    }
    if (!attachmentPath.isEmpty())
        out.append(attachmentPath);
    return out;
}

bool isImageFile(const QString &path)
{
    static const QMimeDatabase db;
    return db.mimeTypeForFile(path, QMimeDatabase::MatchContent).name().startsWith(QLatin1String("image/"));
}

} // namespace greetings
