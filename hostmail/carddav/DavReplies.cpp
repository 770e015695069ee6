#include "hostmail/carddav/DavReplies.h"

#include "hostmail/HostError.h"
#include "hostmail/vcard/VCardFile.h"

#include <map>
#include <optional>

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

// The one card of bytes, parsed by the vCard library; null when the bytes
// hold no card, or more than one.
std::shared_ptr<VCardFile> oneCard(const QByteArray &bytes)
{
    try {
        auto file = VCardFile::fromBytes(QString(), bytes);
        return file->cards().size() == 1 ? file : nullptr;
    } catch (const HostError &) {
        return nullptr;
    }
}

// A content line as the merge compares it: unfolded, with its group.
QByteArray logical(const ContentLine &l)
{
    return l.prefix + ':' + l.rawValue;
}

} // namespace

QByteArray reapplyChange(const QByteArray &seen, const QByteArray &ours, const QByteArray &theirs)
{
    const auto before = oneCard(seen), after = oneCard(ours), result = oneCard(theirs);
    if (!before || !after || !result)
        return {};
    auto texts = [](const VCardFile &f) {
        QList<QByteArray> out;
        for (const ContentLine &l : f.cards().first().lines)
            out.append(logical(l));
        return out;
    };
    const QList<QByteArray> was = texts(*before), now = texts(*after);
    QList<ContentLine> removed, added;
    for (const ContentLine &l : before->cards().first().lines)
        if (!now.contains(logical(l)))
            removed.append(l);
    for (const ContentLine &l : after->cards().first().lines)
        if (!was.contains(logical(l)))
            added.append(l);
    // Each line the program removed or changed must still be on the server
    // as it was; its edit is planned against the server's line numbers and
    // made from the last line up, so no edit moves another.
    const QList<ContentLine> server = result->cards().first().lines;
    std::map<int, std::optional<QByteArray>> edits; // server line -> its new text, or removed
    for (const ContentLine &old : std::as_const(removed)) {
        const bool rev = old.name == "REV";
        int at = -1;
        for (int i = 0; i < server.size() && at < 0; ++i)
            if (!edits.count(i) && (rev ? server.at(i).name == "REV" : logical(server.at(i)) == logical(old)))
                at = i;
        if (at < 0)
            return {}; // the server changed a line the program changed
        const auto replacement =
            std::find_if(added.begin(), added.end(), [&](const ContentLine &l) { return l.name == old.name; });
        if (replacement != added.end()) {
            edits[at] = logical(*replacement);
            added.erase(replacement);
        } else {
            edits[at] = std::nullopt;
        }
    }
    for (auto it = edits.rbegin(); it != edits.rend(); ++it) {
        if (it->second)
            result->replaceLine(0, it->first, *it->second);
        else
            result->removeLine(0, it->first);
    }
    for (const ContentLine &l : std::as_const(added))
        result->insertLine(0, logical(l));
    return result->fileBytes();
}

QString contactName(const QByteArray &card, const QString &fallback)
{
    if (const auto file = oneCard(card)) {
        for (const ContentLine &l : file->cards().first().lines) {
            if (l.name == "FN") {
                const QString name = unescapeText(l.value()).trimmed();
                if (!name.isEmpty())
                    return name;
            }
        }
    }
    return fallback;
}

QString contactUid(const QByteArray &card)
{
    if (const auto file = oneCard(card))
        for (const ContentLine &l : file->cards().first().lines)
            if (l.name == "UID")
                return l.value().trimmed();
    return {};
}

bool looksLikeVCard(const QByteArray &bytes)
{
    const QByteArray t = bytes.trimmed();
    return t.left(11).compare("BEGIN:VCARD", Qt::CaseInsensitive) == 0 &&
           t.right(9).compare("END:VCARD", Qt::CaseInsensitive) == 0 && oneCard(bytes) != nullptr;
}

} // namespace hostmail::carddav
