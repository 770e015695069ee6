#include "hostmail/mime/LocalReferences.h"

#include "hostmail/mime/HtmlText.h"

#include <QRegularExpression>
#include <QSet>
#include <QUrl>

#include <algorithm>
#include <gumbo.h>
#include <vector>

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
        // Only an absolute path names a file: "file:pic.png" would be found
        // in whatever folder the program runs in.
        const QUrl url(r);
        const QString path = url.isLocalFile() ? url.toLocalFile() : QString();
        return path.startsWith(QLatin1Char('/')) && !path.startsWith(QLatin1String("//")) ? path : QString();
    }
    if (r.startsWith(QLatin1Char('/')) && !r.startsWith(QLatin1String("//")))
        return r;
    return QString();
}

namespace {

// Attributes whose value names a resource a reader's program may load or open.
const char *const kUrlAttributes[] = {"src",     "href",     "background", "poster", "data",   "action",   "formaction",
                                      "cite",    "longdesc", "lowsrc",     "dynsrc", "usemap", "manifest", "codebase",
                                      "archive", "profile",  "classid",    "icon",   "ping",   "itemtype"};

bool isScriptReference(const QString &value)
{
    QString v;
    v.reserve(value.size());
    for (const QChar c : value) // browsers ignore control characters and blanks inside a scheme
        if (c.unicode() > 0x20)
            v.append(c);
    return v.startsWith(QLatin1String("javascript:"), Qt::CaseInsensitive) ||
           v.startsWith(QLatin1String("vbscript:"), Qt::CaseInsensitive);
}

struct Edit {
    qsizetype begin;
    qsizetype end;
    QByteArray with;
};

// The walk over a parsed document: finds the local references, and with a
// replacement, the edits that make the document safe to mail.
class Walker {
public:
    Walker(const QByteArray &text, const std::function<QString(const QString &)> *replacement)
        : m_text(text), m_replacement(replacement)
    {
    }

    void walk(const GumboNode *node)
    {
        if (node->type == GUMBO_NODE_DOCUMENT) {
            children(&node->v.document.children);
            return;
        }
        if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE)
            return;
        const GumboElement &e = node->v.element;
        const QByteArray tag = tagName(e);
        if (tag == "script") {
            if (m_replacement)
                removeElement(e);
            return;
        }
        const bool imageInput =
            tag == "input" && QByteArray(attributeValue(e, "type")).compare("image", Qt::CaseInsensitive) == 0;
        for (unsigned i = 0; i < e.attributes.length; ++i) {
            const auto *a = static_cast<const GumboAttribute *>(e.attributes.data[i]);
            attribute(e, tag, *a, imageInput);
        }
        if (tag == "style") {
            for (unsigned i = 0; i < e.children.length; ++i) {
                const auto *child = static_cast<const GumboNode *>(e.children.data[i]);
                if (child->type == GUMBO_NODE_TEXT || child->type == GUMBO_NODE_WHITESPACE ||
                    child->type == GUMBO_NODE_CDATA)
                    styleText(child->v.text);
            }
            return;
        }
        children(&e.children);
    }

    QList<LocalReference> references;
    std::vector<Edit> edits;
    QStringList removed;

private:
    void children(const GumboVector *list)
    {
        for (unsigned i = 0; i < list->length; ++i)
            walk(static_cast<const GumboNode *>(list->data[i]));
    }

    static QByteArray tagName(const GumboElement &e)
    {
        if (e.tag != GUMBO_TAG_UNKNOWN)
            return QByteArray(gumbo_normalized_tagname(e.tag));
        GumboStringPiece piece = e.original_tag;
        gumbo_tag_from_original_text(&piece);
        return QByteArray(piece.data, qsizetype(piece.length)).toLower();
    }

    static const char *attributeValue(const GumboElement &e, const char *name)
    {
        const GumboAttribute *a = gumbo_get_attribute(&e.attributes, name);
        return a ? a->value : "";
    }

    qsizetype offsetOf(const char *p) const { return p ? qsizetype(p - m_text.constData()) : -1; }
    bool inText(const GumboStringPiece &piece) const
    {
        return piece.data && piece.data >= m_text.constData() &&
               piece.data + piece.length <= m_text.constData() + m_text.size();
    }

    void removeElement(const GumboElement &e)
    {
        if (!inText(e.original_tag))
            return; // made by the parser, not written in the text
        const qsizetype begin = offsetOf(e.original_tag.data);
        qsizetype end = begin + qsizetype(e.original_tag.length);
        if (inText(e.original_end_tag) && e.original_end_tag.length > 0)
            end = offsetOf(e.original_end_tag.data) + qsizetype(e.original_end_tag.length);
        else if (qsizetype(e.end_pos.offset) > end && qsizetype(e.end_pos.offset) <= m_text.size())
            end = qsizetype(e.end_pos.offset);
        edits.push_back({begin, end, {}});
        removed.append(QStringLiteral("a script"));
    }

    // The whole attribute, name and value, as written.
    void removeAttribute(const GumboAttribute &a)
    {
        if (!inText(a.original_name))
            return;
        const qsizetype begin = offsetOf(a.original_name.data);
        qsizetype end = begin + qsizetype(a.original_name.length);
        if (inText(a.original_value) && a.original_value.length > 0)
            end = offsetOf(a.original_value.data) + qsizetype(a.original_value.length);
        edits.push_back({begin, end, {}});
    }

    void setValue(const GumboAttribute &a, const QString &value)
    {
        if (inText(a.original_value) && a.original_value.length > 0) {
            const qsizetype begin = offsetOf(a.original_value.data);
            edits.push_back(
                {begin, begin + qsizetype(a.original_value.length), '"' + value.toHtmlEscaped().toUtf8() + '"'});
        } else if (inText(a.original_name)) {
            const qsizetype at = offsetOf(a.original_name.data) + qsizetype(a.original_name.length);
            edits.push_back({at, at, "=\"" + value.toHtmlEscaped().toUtf8() + '"'});
        }
    }

    // What a local reference becomes: a picture's replacement, or nothing.
    QString replaced(const QString &place, const QString &value, bool picture, bool image = false)
    {
        const QString path = localPathOf(value);
        references.append({place, value, path, picture, image});
        QString with;
        if (picture && !path.isEmpty() && m_replacement && *m_replacement)
            with = (*m_replacement)(path);
        if (with.isEmpty())
            removed.append(QStringLiteral("%1 (%2)").arg(value, place));
        return with;
    }

    void attribute(const GumboElement &e, const QByteArray &tag, const GumboAttribute &a, bool imageInput)
    {
        const QByteArray name = QByteArray(a.name).toLower();
        const QString value = QString::fromUtf8(a.value);
        if (name.startsWith("on")) { // an event handler runs script
            if (m_replacement) {
                removeAttribute(a);
                removed.append(QStringLiteral("a script (%1)").arg(QString::fromLatin1(name)));
            }
            return;
        }
        if (name == "style") {
            const QString css = rewriteCss(value, QStringLiteral("style url()"));
            if (m_replacement && css != value)
                setValue(a, css);
            return;
        }
        const QString place = QString::fromLatin1(tag) + QLatin1Char(' ') + QString::fromLatin1(name);
        if (name == "srcset") {
            // Candidates "url 2x, url 640w": any local one empties the set.
            bool local = false;
            for (const QString &candidate : value.split(QLatin1Char(','))) {
                const QString url = candidate.trimmed().section(QLatin1Char(' '), 0, 0);
                if (isLocalReference(url) || isScriptReference(url)) {
                    local = true;
                    replaced(place, url, false);
                }
            }
            if (local && m_replacement)
                setValue(a, QString());
            return;
        }
        if (name == "content" && tag == "meta" &&
            QByteArray(attributeValue(e, "http-equiv")).compare("refresh", Qt::CaseInsensitive) == 0) {
            static const QRegularExpression target(QStringLiteral("url\\s*=\\s*['\"]?([^'\"]*)"),
                                                   QRegularExpression::CaseInsensitiveOption);
            const QString url = target.match(value).captured(1).trimmed();
            if (isLocalReference(url) || isScriptReference(url)) {
                replaced(QStringLiteral("meta refresh"), url, false);
                if (m_replacement)
                    setValue(a, QString());
            }
            return;
        }
        const bool urlAttribute = std::any_of(std::begin(kUrlAttributes), std::end(kUrlAttributes),
                                              [&](const char *n) { return name == n; }) ||
                                  name.endsWith(":href") ||
                                  (a.attr_namespace == GUMBO_ATTR_NAMESPACE_XLINK && name == "href");
        if (!urlAttribute)
            return;
        if (isScriptReference(value)) {
            if (m_replacement) {
                setValue(a, QString());
                removed.append(QStringLiteral("a script (%1)").arg(place));
            }
            return;
        }
        if (!isLocalReference(value))
            return;
        const bool picture = (name == "src" && (tag == "img" || imageInput)) || name == "background";
        const QString with = replaced(place, value, picture, name == "src" && tag == "img");
        if (m_replacement)
            setValue(a, with);
    }

    // CSS with every local url() made its replacement or url().
    QString rewriteCss(const QString &css, const QString &place)
    {
        static const QRegularExpression url(QStringLiteral("url\\(\\s*(?:\"([^\"]*)\"|'([^']*)'|([^)\"'\\s]*))\\s*\\)"),
                                            QRegularExpression::CaseInsensitiveOption);
        QString out;
        qsizetype from = 0;
        for (auto it = url.globalMatch(css); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            QString value;
            for (int i = 1; i <= 3; ++i) {
                if (m.capturedStart(i) >= 0)
                    value = m.captured(i);
            }
            if (!isLocalReference(value) && !isScriptReference(value))
                continue;
            const QString with = isScriptReference(value) ? QString() : replaced(place, value, true);
            // Unquoted: a cid: has no character that needs quotes, and the
            // text may itself stand inside a quoted attribute.
            out += QStringView(css).mid(from, m.capturedStart() - from);
            out += QStringLiteral("url(") + with + QLatin1Char(')');
            from = m.capturedEnd();
        }
        if (from == 0)
            return css;
        out += QStringView(css).mid(from);
        return out;
    }

    void styleText(const GumboText &text)
    {
        const QString css = QString::fromUtf8(text.text);
        const QString now = rewriteCss(css, QStringLiteral("style element url()"));
        if (!m_replacement || now == css || !inText(text.original_text))
            return;
        const qsizetype begin = offsetOf(text.original_text.data);
        edits.push_back({begin, begin + qsizetype(text.original_text.length), now.toUtf8()});
    }

    const QByteArray &m_text;
    const std::function<QString(const QString &)> *m_replacement;
};

// The net behind the parser: a tag the parser dropped (a table cell outside
// a table) is still in the text, so any attribute value or url() left that
// names a local file is emptied as well.
QString scrubLeftovers(const QString &html, QStringList *removed)
{
    static const QRegularExpression reference(
        QStringLiteral("(\\s[\\w:.-]+\\s*=\\s*)(?:\"([^\"]*)(?:\"|$)|'([^']*)(?:'|$)|([^\\s>\"']+))"
                       "|(url\\(\\s*)(?:\"([^\"]*)(?:\"|$)|'([^']*)(?:'|$)|([^)\"'\\s]*))(\\s*\\)|$)"),
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
        value = decodeHtmlEntities(value);
        if (!isLocalReference(value) && !isScriptReference(value))
            continue;
        if (removed)
            removed->append(QStringLiteral("%1 (%2)").arg(value, css ? QStringLiteral("url()")
                                                                     : m.captured(1).trimmed().chopped(1).trimmed()));
        out += QStringView(html).mid(from, m.capturedStart() - from);
        out += css ? QStringLiteral("url()") : m.captured(1) + QLatin1String("\"\"");
        from = m.capturedEnd();
    }
    if (from == 0)
        return html;
    out += QStringView(html).mid(from);
    return out;
}

template <typename Use> auto parsed(const QByteArray &text, Use use)
{
    GumboOptions options = kGumboDefaultOptions;
    options.max_errors = 0; // the errors of a sloppy page are no use here
    GumboOutput *output = gumbo_parse_with_options(&options, text.constData(), size_t(text.size()));
    auto result = use(output->document);
    gumbo_destroy_output(&options, output);
    return result;
}

} // namespace

QList<LocalReference> localReferences(const QString &html)
{
    const QByteArray text = html.toUtf8();
    return parsed(text, [&](const GumboNode *document) {
        Walker walker(text, nullptr);
        walker.walk(document);
        return walker.references;
    });
}

QStringList localPictures(const QString &html)
{
    QStringList paths;
    QSet<QString> seen;
    for (const LocalReference &r : localReferences(html)) {
        if (r.picture && !r.path.isEmpty() && !seen.contains(r.path)) {
            seen.insert(r.path);
            paths.append(r.path);
        }
    }
    return paths;
}

namespace {

QString rewriteOnce(const QString &html, const std::function<QString(const QString &path)> &replacement,
                    QStringList *removed)
{
    QByteArray text = html.toUtf8();
    std::vector<Edit> edits = parsed(text, [&](const GumboNode *document) {
        Walker walker(text, &replacement);
        walker.walk(document);
        if (removed)
            removed->append(walker.removed);
        return walker.edits;
    });
    // From the end, so earlier offsets stay; an edit inside one already made
    // (an attribute of a removed script) is passed over.
    std::sort(edits.begin(), edits.end(), [](const Edit &a, const Edit &b) { return a.begin > b.begin; });
    qsizetype floor = text.size() + 1;
    for (const Edit &e : edits) {
        if (e.end > floor || e.begin < 0 || e.end < e.begin || e.end > text.size())
            continue;
        text.replace(e.begin, e.end - e.begin, e.with);
        floor = e.begin;
    }
    return scrubLeftovers(QString::fromUtf8(text), removed);
}

} // namespace

QString rewriteLocalReferences(const QString &html, const std::function<QString(const QString &path)> &replacement,
                               QStringList *removed)
{
    // Removing text can join what was left into a tag the parser now reads
    // (a broken page): the result is parsed again until nothing local or
    // scripted is left in it.
    QString out = rewriteOnce(html, replacement, removed);
    for (int pass = 0; pass < 4; ++pass) {
        const QList<LocalReference> left = localReferences(out);
        if (std::none_of(left.cbegin(), left.cend(), [](const LocalReference &r) { return !r.value.isEmpty(); }))
            break;
        out = rewriteOnce(out, {}, removed);
    }
    return out;
}

} // namespace hostmail::mime
