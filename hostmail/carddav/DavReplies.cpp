#include "hostmail/carddav/DavReplies.h"

#include <QStringList>
#include <QXmlStreamReader>

#include <algorithm>

namespace hostmail::carddav {

namespace {

// An XML reader turns the card's CRLF line ends into LF (unless the server
// wrote them as &#13;); a vCard's are CRLF, as the server keeps it.
QByteArray withCrLf(const QByteArray &card)
{
    QByteArray out;
    out.reserve(card.size() + card.count('\n'));
    for (qsizetype i = 0; i < card.size(); ++i) {
        if (card.at(i) == '\n' && (i == 0 || card.at(i - 1) != '\r'))
            out += '\r';
        out += card.at(i);
    }
    return out;
}

} // namespace

Multistatus parseMultistatus(const QByteArray &xml)
{
    Multistatus m;
    QXmlStreamReader r(xml);
    DavResponse current, found;
    QString propstatStatus;
    QString propertyToken; // the collection's sync-token, asked for as a property
    QStringList path;
    while (!r.atEnd()) {
        r.readNext();
        if (r.isStartElement()) {
            const QString name = r.name().toString();
            path.append(name);
            if (name == QLatin1String("multistatus"))
                m.valid = true;
            else if (name == QLatin1String("response"))
                current = DavResponse();
            else if (name == QLatin1String("propstat")) {
                found = DavResponse();
                propstatStatus.clear();
            } else if (name == QLatin1String("addressbook") && path.contains(QLatin1String("resourcetype")))
                found.addressBook = true;
            else if (name == QLatin1String("href")) {
                const QString text = r.readElementText().trimmed();
                path.removeLast();
                if (path.endsWith(QLatin1String("current-user-principal")))
                    found.principal = text;
                else if (path.endsWith(QLatin1String("addressbook-home-set")))
                    found.home = text;
                else if (path.endsWith(QLatin1String("response")))
                    current.href = text;
            } else if (name == QLatin1String("status") || name == QLatin1String("getetag") ||
                       name == QLatin1String("address-data") || name == QLatin1String("displayname") ||
                       name == QLatin1String("sync-token")) {
                const QString text = r.readElementText();
                path.removeLast();
                if (name == QLatin1String("status"))
                    (path.endsWith(QLatin1String("propstat")) ? propstatStatus : current.status) = text.trimmed();
                else if (name == QLatin1String("getetag"))
                    found.etag = text.trimmed();
                else if (name == QLatin1String("address-data"))
                    found.addressData = withCrLf(text.toUtf8());
                else if (name == QLatin1String("displayname"))
                    found.displayName = text.trimmed();
                else if (path.endsWith(QLatin1String("multistatus")))
                    m.syncToken = text.trimmed();
                else if (path.endsWith(QLatin1String("prop")))
                    propertyToken = text.trimmed();
            }
        } else if (r.isEndElement()) {
            const QString name = r.name().toString();
            if (!path.isEmpty())
                path.removeLast();
            if (name == QLatin1String("propstat") && propstatStatus.contains(QLatin1String(" 200"))) {
                current.etag = found.etag.isEmpty() ? current.etag : found.etag;
                current.addressData = found.addressData.isNull() ? current.addressData : found.addressData;
                current.principal = found.principal.isEmpty() ? current.principal : found.principal;
                current.home = found.home.isEmpty() ? current.home : found.home;
                current.displayName = found.displayName.isEmpty() ? current.displayName : found.displayName;
                current.addressBook |= found.addressBook;
            } else if (name == QLatin1String("response")) {
                m.responses.append(current);
            }
        }
    }
    if (r.hasError())
        m.valid = false;
    if (m.syncToken.isEmpty())
        m.syncToken = propertyToken;
    return m;
}

namespace {

// A card's logical lines, each as written (folded lines kept) and unfolded.
struct CardLine {
    QByteArray written;
    QByteArray text;
    QByteArray name() const
    {
        qsizetype end = 0;
        while (end < text.size() && text.at(end) != ':' && text.at(end) != ';')
            ++end;
        QByteArray n = text.left(end).toUpper();
        const qsizetype dot = n.indexOf('.');
        return dot >= 0 ? n.mid(dot + 1) : n; // without its group
    }
};

QList<CardLine> cardLines(const QByteArray &card)
{
    QList<CardLine> lines;
    for (QByteArray physical : card.split('\n')) {
        if (physical.endsWith('\r'))
            physical.chop(1);
        if ((physical.startsWith(' ') || physical.startsWith('\t')) && !lines.isEmpty()) {
            lines.last().written += "\r\n" + physical;
            lines.last().text += physical.mid(1);
        } else if (!physical.isEmpty()) {
            lines.append({physical, physical});
        }
    }
    return lines;
}

QByteArray joined(const QList<CardLine> &lines)
{
    QByteArray out;
    for (const CardLine &l : lines)
        out += l.written + "\r\n";
    return out;
}

} // namespace

QByteArray reapplyChange(const QByteArray &seen, const QByteArray &ours, const QByteArray &theirs)
{
    QList<CardLine> before = cardLines(seen), after = cardLines(ours), result = cardLines(theirs);
    auto contains = [](const QList<CardLine> &lines, const QByteArray &text) {
        return std::any_of(lines.cbegin(), lines.cend(), [&](const CardLine &l) { return l.text == text; });
    };
    QList<CardLine> removed, added;
    for (const CardLine &l : before)
        if (!contains(after, l.text))
            removed.append(l);
    for (const CardLine &l : after)
        if (!contains(before, l.text))
            added.append(l);
    for (const CardLine &old : std::as_const(removed)) {
        const bool rev = old.name() == "REV";
        const auto at = std::find_if(result.begin(), result.end(),
                                     [&](const CardLine &l) { return rev ? l.name() == "REV" : l.text == old.text; });
        if (at == result.end())
            return {}; // the server changed a line the program changed
        const auto replacement =
            std::find_if(added.begin(), added.end(), [&](const CardLine &l) { return l.name() == old.name(); });
        if (replacement != added.end()) {
            *at = *replacement;
            added.erase(replacement);
        } else {
            result.erase(at);
        }
    }
    const auto end = std::find_if(result.begin(), result.end(), [](const CardLine &l) { return l.name() == "END"; });
    for (const CardLine &l : std::as_const(added))
        result.insert(end == result.end() ? result.size() : qsizetype(end - result.begin()), l);
    return joined(result);
}

QString contactName(const QByteArray &card, const QString &fallback)
{
    for (const CardLine &l : cardLines(card)) {
        if (l.name() == "FN") {
            const QString name = QString::fromUtf8(l.text.mid(l.text.indexOf(':') + 1)).trimmed();
            if (!name.isEmpty())
                return name;
        }
    }
    return fallback;
}

bool looksLikeVCard(const QByteArray &bytes)
{
    const QList<CardLine> lines = cardLines(bytes);
    return lines.size() >= 2 && lines.first().text.trimmed().compare("BEGIN:VCARD", Qt::CaseInsensitive) == 0 &&
           lines.last().text.trimmed().compare("END:VCARD", Qt::CaseInsensitive) == 0;
}

} // namespace hostmail::carddav
