#include "hostmail/carddav/GraphContacts.h"

#include "hostmail/vcard/ContactData.h"
#include "hostmail/vcard/VCardFile.h"

#include <QDateTime>
#include <QJsonArray>

namespace hostmail::carddav {

namespace {

QByteArray escaped(const QString &text)
{
    QString out;
    for (const QChar c : text) {
        if (c == QLatin1Char('\\') || c == QLatin1Char(',') || c == QLatin1Char(';'))
            out += QLatin1Char('\\');
        if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else if (c != QLatin1Char('\r') && (c.unicode() >= 32 || c == QLatin1Char('\t')))
            out += c;
    }
    return out.toUtf8();
}

// The calendar day of a Graph date-time. Outlook keeps a whole-day date at
// local midnight or near noon, as UTC: the day nearest to it is the one
// meant, in every time zone from UTC-11 to UTC+12.
QDate dayOf(const QString &value)
{
    QDateTime t = QDateTime::fromString(value, Qt::ISODateWithMs);
    if (!t.isValid())
        t = QDateTime::fromString(value, Qt::ISODate);
    if (!t.isValid())
        return {};
    return t.toUTC().addSecs(12 * 3600).date();
}

// How a day goes back: just before noon UTC, which stays that day everywhere.
QString graphDay(const QDate &date)
{
    return date.toString(Qt::ISODate) + QLatin1String("T11:59:00Z");
}

QString anniversaryOf(const QJsonObject &contact)
{
    for (const QJsonValue &p : contact.value(QLatin1String("singleValueExtendedProperties")).toArray())
        if (p.toObject()
                .value(QLatin1String("id"))
                .toString()
                .compare(QLatin1String(kGraphAnniversaryProperty), Qt::CaseInsensitive) == 0)
            return p.toObject().value(QLatin1String("value")).toString();
    return {};
}

ContactData contactOf(const QByteArray &bytes)
{
    const auto file = VCardFile::fromBytes(QString(), bytes);
    return file && !file->cards().isEmpty() ? readContact(file->parsedCard(0)) : ContactData{};
}

} // namespace

QString graphContactQuery()
{
    return QStringLiteral("$select=id,changeKey,displayName,givenName,middleName,surname,title,generation,"
                          "emailAddresses,birthday,spouseName,children,categories"
                          "&$expand=singleValueExtendedProperties($filter=id eq '%1')")
        .arg(QLatin1String(kGraphAnniversaryProperty));
}

QByteArray vcardFromGraph(const QJsonObject &c)
{
    const QString id = c.value(QLatin1String("id")).toString();
    if (id.isEmpty() || id.size() > 1024)
        return {};
    const auto text = [&c](const char *key) { return c.value(QLatin1String(key)).toString().left(4096); };
    QList<QByteArray> lines{"BEGIN:VCARD", "VERSION:3.0", "PRODID:-//Cheerpost//Microsoft Graph//EN",
                            "UID:" + escaped(id)};
    QString full = text("displayName").trimmed();
    if (full.isEmpty())
        full = QStringList{text("givenName"), text("surname")}.join(QLatin1Char(' ')).trimmed();
    lines.append("FN:" + escaped(full));
    lines.append("N:" + escaped(text("surname")) + ';' + escaped(text("givenName")) + ';' +
                 escaped(text("middleName")) + ';' + escaped(text("title")) + ';' + escaped(text("generation")));
    int emails = 0;
    for (const QJsonValue &e : c.value(QLatin1String("emailAddresses")).toArray()) {
        const QString address = e.toObject().value(QLatin1String("address")).toString().trimmed();
        if (address.isEmpty() || ++emails > 3)
            continue;
        lines.append("EMAIL;TYPE=INTERNET:" + escaped(address.left(320)));
    }
    if (const QDate birthday = dayOf(text("birthday")); birthday.isValid())
        lines.append("BDAY:" + birthday.toString(Qt::ISODate).toLatin1());
    if (const QDate anniversary = dayOf(anniversaryOf(c)); anniversary.isValid())
        lines.append("X-ANNIVERSARY:" + anniversary.toString(Qt::ISODate).toLatin1());
    if (const QString spouse = text("spouseName").trimmed(); !spouse.isEmpty())
        lines.append("X-SPOUSE:" + escaped(spouse));
    for (const QJsonValue &child : c.value(QLatin1String("children")).toArray())
        if (!child.toString().trimmed().isEmpty())
            lines.append("X-MS-CHILD:" + escaped(child.toString().trimmed().left(256)));
    QList<QByteArray> categories;
    for (const QJsonValue &cat : c.value(QLatin1String("categories")).toArray())
        if (!cat.toString().trimmed().isEmpty())
            categories.append(escaped(cat.toString().trimmed().left(256)));
    if (!categories.isEmpty())
        lines.append("CATEGORIES:" + categories.join(','));
    lines.append("END:VCARD");
    QByteArray out;
    for (const QByteArray &line : std::as_const(lines))
        out += foldLine(line, "\r\n") + "\r\n";
    return out;
}

QJsonObject graphDatesPatch(const QByteArray &seen, const QByteArray &local)
{
    const ContactData before = contactOf(seen), now = contactOf(local);
    QJsonObject patch;
    const auto changed = [](const DateField &a, const DateField &b) {
        return isDateSet(b.date) && (!isDateSet(a.date) || a.date != b.date);
    };
    if (changed(before.birthday, now.birthday))
        patch.insert(QLatin1String("birthday"), graphDay(now.birthday.date));
    if (changed(before.anniversary, now.anniversary))
        patch.insert(QLatin1String("singleValueExtendedProperties"),
                     QJsonArray{QJsonObject{{QLatin1String("id"), QLatin1String(kGraphAnniversaryProperty)},
                                            {QLatin1String("value"), graphDay(now.anniversary.date)}}});
    return patch;
}

} // namespace hostmail::carddav
