#include "hostmail/mime/HtmlText.h"

#include <QHash>
#include <QRegularExpression>

namespace hostmail::mime {

namespace {

QString decodeEntity(const QString &name)
{
    static const QHash<QString, QString> named = {
        {QStringLiteral("amp"), QStringLiteral("&")},       {QStringLiteral("lt"), QStringLiteral("<")},
        {QStringLiteral("gt"), QStringLiteral(">")},        {QStringLiteral("quot"), QStringLiteral("\"")},
        {QStringLiteral("apos"), QStringLiteral("'")},      {QStringLiteral("nbsp"), QString(QChar(0xA0))},
        {QStringLiteral("copy"), QString(QChar(0xA9))},     {QStringLiteral("reg"), QString(QChar(0xAE))},
        {QStringLiteral("hellip"), QString(QChar(0x2026))}, {QStringLiteral("mdash"), QString(QChar(0x2014))},
        {QStringLiteral("ndash"), QString(QChar(0x2013))},  {QStringLiteral("rsquo"), QString(QChar(0x2019))},
        {QStringLiteral("lsquo"), QString(QChar(0x2018))},  {QStringLiteral("rdquo"), QString(QChar(0x201D))},
        {QStringLiteral("ldquo"), QString(QChar(0x201C))},  {QStringLiteral("euro"), QString(QChar(0x20AC))},
    };
    if (name.startsWith(QLatin1Char('#'))) {
        bool ok = false;
        const uint code = name.size() > 1 && (name.at(1) == QLatin1Char('x') || name.at(1) == QLatin1Char('X'))
                              ? name.mid(2).toUInt(&ok, 16)
                              : name.mid(1).toUInt(&ok, 10);
        if (ok && code > 0 && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF)) {
            const char32_t c = code;
            return QString::fromUcs4(&c, 1);
        }
        return QString();
    }
    return named.value(name.toLower(), QLatin1Char('&') + name + QLatin1Char(';'));
}

// The value of the href or alt attribute in a start tag's text, or a null string.
QString attribute(const QString &tag, bool href)
{
    static const QRegularExpression hrefs(QStringLiteral("\\shref\\s*=\\s*(\"([^\"]*)\"|'([^']*)'|([^\\s>]+))"),
                                          QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression alts(QStringLiteral("\\salt\\s*=\\s*(\"([^\"]*)\"|'([^']*)'|([^\\s>]+))"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = (href ? hrefs : alts).match(tag);
    if (!m.hasMatch())
        return QString();
    for (int i = 2; i <= 4; ++i) {
        if (m.capturedStart(i) >= 0)
            return decodeHtmlEntities(m.captured(i));
    }
    return QString();
}

} // namespace

QString decodeHtmlEntities(const QString &text)
{
    if (!text.contains(QLatin1Char('&')))
        return text;
    static const QRegularExpression entity(QStringLiteral("&(#[0-9]{1,7}|#[xX][0-9a-fA-F]{1,6}|[a-zA-Z]{2,8});"));
    QString out;
    qsizetype from = 0;
    for (auto it = entity.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        out += QStringView(text).mid(from, m.capturedStart() - from);
        out += decodeEntity(m.captured(1));
        from = m.capturedEnd();
    }
    out += QStringView(text).mid(from);
    return out;
}

QString plainTextFromHtml(const QString &html)
{
    static const QRegularExpression dropped(
        QStringLiteral("<!--.*?-->|<(head|style|script|title)\\b[^>]*>.*?</\\1\\s*>"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression tag(QStringLiteral("<(/?)([a-zA-Z][a-zA-Z0-9]*)([^>]*)>|<!?[^>]*>"));
    static const QStringList blocks = {"p",  "div", "h1",    "h2",         "h3",  "h4", "h5",   "h6",
                                       "ul", "ol",  "table", "blockquote", "pre", "hr", "body", "html"};
    static const QStringList lines = {"br", "tr", "dt", "dd"};

    QString source = html;
    source.remove(dropped);
    QString out;
    QStringList links; // targets of the open <a> elements
    qsizetype from = 0;
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    auto text = [&](QStringView raw) {
        if (raw.isEmpty())
            return;
        QString t = raw.toString();
        t.replace(blanks, QStringLiteral(" "));
        out += decodeHtmlEntities(t);
    };
    for (auto it = tag.globalMatch(source); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        text(QStringView(source).mid(from, m.capturedStart() - from));
        from = m.capturedEnd();
        const QString name = m.captured(2).toLower();
        const bool closing = !m.captured(1).isEmpty();
        if (name.isEmpty())
            continue; // a comment or a doctype
        if (name == QLatin1String("a")) {
            if (!closing) {
                links.append(attribute(m.captured(0), true));
            } else if (!links.isEmpty()) {
                const QString href = links.takeLast();
                if (!href.isEmpty() && !href.startsWith(QLatin1Char('#')) && !out.trimmed().endsWith(href))
                    out += QStringLiteral(" <%1>").arg(
                        href.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive) ? href.mid(7) : href);
            }
        } else if (name == QLatin1String("img") && !closing) {
            const QString alt = attribute(m.captured(0), false);
            if (!alt.trimmed().isEmpty())
                out += QLatin1Char('[') + alt.trimmed() + QLatin1Char(']');
        } else if (name == QLatin1String("td") || name == QLatin1String("th")) {
            if (closing)
                out += QLatin1Char('\t');
        } else if (name == QLatin1String("li")) {
            if (!closing)
                out += QStringLiteral("\n- ");
        } else if (lines.contains(name)) {
            out += QLatin1Char('\n');
        } else if (blocks.contains(name)) {
            out += QStringLiteral("\n\n");
        }
    }
    text(QStringView(source).mid(from));

    // Tidy: no blanks at line ends or starts, at most one empty line in a row.
    QStringList result;
    bool lastEmpty = true;
    for (QString line : out.split(QLatin1Char('\n'))) {
        line.replace(QChar(0xA0), QLatin1Char(' '));
        line = line.trimmed();
        if (line.isEmpty()) {
            if (!lastEmpty)
                result.append(QString());
            lastEmpty = true;
            continue;
        }
        result.append(line);
        lastEmpty = false;
    }
    while (!result.isEmpty() && result.last().isEmpty())
        result.removeLast();
    return result.isEmpty() ? QString() : result.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace hostmail::mime
