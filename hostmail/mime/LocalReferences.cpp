#include "hostmail/mime/LocalReferences.h"

#include "hostmail/mime/HtmlText.h"

#include <QRegularExpression>
#include <QUrl>

namespace hostmail::mime {

bool isLocalReference(const QString &reference)
{
    static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:[\\\\/]"));
    const QString r = reference.trimmed();
    return r.startsWith(QLatin1String("file:"), Qt::CaseInsensitive) || r.startsWith(QLatin1Char('/')) ||
           r.contains(QLatin1Char('\\')) || drive.match(r).hasMatch();
}

QString localPathOf(const QString &reference)
{
    const QString r = reference.trimmed();
    if (r.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
        const QUrl url(r);
        return url.isLocalFile() ? url.toLocalFile() : QString();
    }
    if (r.startsWith(QLatin1Char('/')))
        return r;
    return QString();
}

QString rewriteLocalReferences(const QString &html, const std::function<QString(const QString &path)> &replacement)
{
    // An attribute value inside a tag, or a CSS url() anywhere.
    static const QRegularExpression reference(
        QStringLiteral("(\\s(?:src|background|href)\\s*=\\s*)(?:\"([^\"]*)\"|'([^']*)'|([^\\s>\"']+))"
                       "|(url\\(\\s*)(?:\"([^\"]*)\"|'([^']*)'|([^)\"'\\s]*))(\\s*\\))"),
        QRegularExpression::CaseInsensitiveOption);
    QString out;
    qsizetype from = 0;
    for (auto it = reference.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const bool css = m.capturedStart(5) >= 0;
        QString value;
        for (int i = css ? 6 : 2; i <= (css ? 8 : 4); ++i) {
            if (m.capturedStart(i) >= 0)
                value = m.captured(i);
        }
        // As the reader will see it: "&#102;ile:" names a file too.
        value = decodeHtmlEntities(value);
        if (!isLocalReference(value))
            continue;
        const QString path = localPathOf(value);
        const QString with = path.isEmpty() ? QString() : replacement(path);
        out += QStringView(html).mid(from, m.capturedStart() - from);
        if (css)
            out += m.captured(5) + QLatin1Char('"') + with + QLatin1Char('"') + m.captured(9);
        else
            out += m.captured(1) + QLatin1Char('"') + with.toHtmlEscaped() + QLatin1Char('"');
        from = m.capturedEnd();
    }
    if (from == 0)
        return html;
    out += QStringView(html).mid(from);
    return out;
}

} // namespace hostmail::mime
