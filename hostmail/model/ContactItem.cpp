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
    const bool clear = !isDateSet(date);
    if (field.line < 0) {
        if (!clear)
            file.insertLine(card, newName + ':' + formatVCardDate(date, DateForm::Extended));
        return;
    }
    if (clear) {
        if (field.valid)
            file.removeLine(card, field.line);
        return; // a text that is no date stays as it is
    }
    const ContentLine &old = file.cards().at(card).lines.at(field.line);
    // A line that held no date (VALUE=text) takes the date in its place.
    const DateForm form = field.valid ? field.form : DateForm::Extended;
    file.replaceLine(card, field.line, dateLine(old, formatVCardDate(date, form, field.placeholderYear)));
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

QString ContactItem::displayName() const
{
    QString name = m_data.fullName.trimmed();
    if (name.isEmpty())
        name = (m_data.firstName + QLatin1Char(' ') + m_data.lastName).trimmed();
    return name.isEmpty() ? QStringLiteral("(no name)") : name;
}

QString ContactItem::filePath() const
{
    return m_file->path();
}

void ContactItem::SaveAs(const QString &path, int format) const
{
    if (format != olVCard)
        throw HostError(QStringLiteral("A contact is saved as vCard only"));
    m_file->ensureLoaded();
    writeFileAtomically(path, m_file->cardBytes(m_card));
}

void ContactItem::Save()
{
    // The yearly events of the dates this save set, or of every date when it
    // set none.
    const bool all = !m_birthday && !m_anniversary;
    save(all || m_birthday.has_value(), all || m_anniversary.has_value());
}

void ContactItem::refreshYearlyEvents()
{
    // A date stored with a time of day goes back as the plain date it stands for.
    if (m_data.birthday.hasTime && !m_birthday)
        m_birthday = m_data.birthday.date;
    if (m_data.anniversary.hasTime && !m_anniversary)
        m_anniversary = m_data.anniversary.date;
    save(isDateSet(Birthday()), isDateSet(Anniversary()));
}

void ContactItem::save(bool birthdayEvent, bool anniversaryEvent)
{
    ContactData now = m_data;
    const bool birthday = m_birthday && (*m_birthday != now.birthday.date || now.birthday.hasTime);
    const bool anniversary = m_anniversary && (*m_anniversary != now.anniversary.date || now.anniversary.hasTime);
    if (birthday || anniversary) {
        // The edit works on the file as this item read it (or last saved
        // it), and is written only while the file on disk is still that: a
        // change another program made meanwhile is never overwritten, the
        // save fails instead.
        m_file->ensureLoaded();
        // A copy shares the text until the edit; only this card is parsed.
        const auto edited = std::make_shared<VCardFile>(*m_file);
        if (m_card >= edited->cards().size())
            throw HostError(QStringLiteral("%1 no longer holds this contact; it was not saved").arg(m_file->path()));
        edited->ensureLines(m_card);
        const bool vcard4 = edited->cards().at(m_card).version == "4.0";
        now = readContact(edited->cards().at(m_card));
        if (birthday) {
            applyDate(*edited, m_card, now.birthday, *m_birthday, "BDAY");
            now = readContact(edited->cards().at(m_card));
        }
        if (anniversary) {
            applyDate(*edited, m_card, now.anniversary, *m_anniversary, vcard4 ? "ANNIVERSARY" : "X-ANNIVERSARY");
            now = readContact(edited->cards().at(m_card));
        }
        if (edited->text() != m_file->text()) {
            edited->save();
            m_file->replaceWith(*edited);
        }
    }
    // After the contact file, so they fail with it.
    YearlyEvents(m_calendarFolder).refresh(eventKey(), now, birthdayEvent, anniversaryEvent, m_file->path());
    m_data = now;
    m_birthday.reset();
    m_anniversary.reset();
}

} // namespace hostmail
