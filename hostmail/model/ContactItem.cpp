#include "hostmail/model/ContactItem.h"

#include "hostmail/HostError.h"
#include "hostmail/model/HostEnums.h"
#include "hostmail/model/YearlyEvents.h"
#include "hostmail/store/AtomicFile.h"
#include "hostmail/vcard/VCardFile.h"

namespace hostmail {

namespace {

// The line that holds a date, rebuilt from the old line's name and parameters.
// A VALUE parameter is dropped: the new value is always a plain date.
QByteArray dateLine(const ContentLine &old, const QByteArray &value)
{
    if (!old.prefix.toUpper().contains("VALUE="))
        return old.prefix + ':' + value;
    const qsizetype semi = old.prefix.indexOf(';');
    QByteArray head = semi < 0 ? old.prefix : old.prefix.left(semi);
    for (const auto &[k, v] : old.params) {
        if (k == "VALUE")
            continue;
        const bool quote = v.contains(':') || v.contains(';');
        head += ';' + k + '=' + (quote ? '"' + v + '"' : v);
    }
    return head + ':' + value;
}

void applyDate(VCardFile &file, int card, const DateField &field, const QDate &date, const QByteArray &newName)
{
    const bool clear = !date.isValid() || date == noDateValue();
    if (field.line < 0) {
        if (!clear)
            file.insertLine(card, newName + ':' + formatVCardDate(date, DateForm::Extended));
        return;
    }
    if (clear) {
        file.removeLine(card, field.line);
        return;
    }
    const ContentLine &old = file.cards().at(card).lines.at(field.line);
    file.replaceLine(card, field.line, dateLine(old, formatVCardDate(date, field.form)));
}

} // namespace

ContactItem::ContactItem(std::shared_ptr<VCardFile> file, int card, ContactData data, QString calendarFolder)
    : m_file(std::move(file)), m_card(card), m_data(std::move(data)), m_calendarFolder(std::move(calendarFolder))
{
}

QString ContactItem::LastNameAndFirstName() const
{
    if (m_data.lastName.isEmpty())
        return m_data.firstName;
    if (m_data.firstName.isEmpty())
        return m_data.lastName;
    return m_data.lastName + QLatin1String(", ") + m_data.firstName;
}

QString ContactItem::eventKey() const
{
    if (!m_data.uid.isEmpty())
        return m_data.uid;
    return m_file->path() + QLatin1Char('#') + QString::number(m_card);
}

QVariant ContactItem::sortValue(const QString &key) const
{
    if (key == QLatin1String("[LastName]"))
        return m_data.lastName;
    return Item::sortValue(key);
}

void ContactItem::SaveAs(const QString &path, int format) const
{
    if (format != olVCard)
        throw HostError(QStringLiteral("A contact is saved as vCard only"));
    writeFileAtomically(path, m_file->cardBytes(m_card));
}

void ContactItem::Save()
{
    // Work on the file as it is on disk now, so a change made meanwhile by a
    // sync tool is kept; refuse when the card is no longer the same contact.
    auto fresh = VCardFile::load(m_file->path());
    if (m_card >= fresh->cards().size() || readContact(fresh->cards().at(m_card)).uid != m_data.uid)
        throw HostError(QStringLiteral("%1 changed on disk; contact not saved").arg(m_file->path()));
    ContactData now = readContact(fresh->cards().at(m_card));
    const bool vcard4 = fresh->cards().at(m_card).version == "4.0";
    if (m_birthday && (*m_birthday != now.birthday.date || now.birthday.hasTime)) {
        applyDate(*fresh, m_card, now.birthday, *m_birthday, "BDAY");
        now = readContact(fresh->cards().at(m_card));
    }
    if (m_anniversary && (*m_anniversary != now.anniversary.date || now.anniversary.hasTime)) {
        applyDate(*fresh, m_card, now.anniversary, *m_anniversary, vcard4 ? "ANNIVERSARY" : "X-ANNIVERSARY");
        now = readContact(fresh->cards().at(m_card));
    }
    if (fresh->bytes() != m_file->bytes())
        fresh->save();
    *m_file = *fresh;
    m_file->dropLines();
    m_data = now;
    m_birthday.reset();
    m_anniversary.reset();
    YearlyEvents(m_calendarFolder).refresh(eventKey(), m_data);
}

} // namespace hostmail
