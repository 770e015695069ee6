#pragma once

#include "hostmail/model/Item.h"
#include "hostmail/store/StorePaths.h"
#include "hostmail/vcard/ContactData.h"

#include <QDate>

#include <memory>
#include <optional>

namespace hostmail {

class VCardFile;

// A contact: one card of a .vcf file in the Contacts folder.
class ContactItem : public Item {
public:
    ContactItem(std::shared_ptr<VCardFile> file, int card, ContactData data, QString calendarFolder);

    QString TypeName() const override { return QStringLiteral("ContactItem"); }
    QString Subject() const override { return m_data.fullName; }
    void SaveAs(const QString &path, int format) const override;
    QVariant sortValue(const QString &key) const override;

    QString FirstName() const { return m_data.firstName; }
    QString LastName() const { return m_data.lastName; }
    QString LastNameAndFirstName() const;
    QString FullName() const { return m_data.fullName; }
    // The name a message to the user gives the contact: the full name, else
    // first and last name, else "(no name)".
    QString displayName() const;
    QString Email1Address() const { return m_data.emails.value(0); }
    QString Email2Address() const { return m_data.emails.value(1); }
    QString Email3Address() const { return m_data.emails.value(2); }
    QString Spouse() const { return m_data.spouse; }
    QString Children() const { return m_data.children; }
    QString Categories() const { return m_data.categories; }
    QDate Birthday() const { return m_birthday ? *m_birthday : m_data.birthday.date; }
    QDate Anniversary() const { return m_anniversary ? *m_anniversary : m_data.anniversary.date; }
    QString uid() const { return m_data.uid; }
    QString filePath() const; // the .vcf file the card is in

    // Set a date; the no-date value clears it. Takes effect on Save.
    void setBirthday(const QDate &date) { m_birthday = date; }
    void setAnniversary(const QDate &date) { m_anniversary = date; }
    // Rewrites only the changed date lines of the card's file, atomically, and
    // refreshes the contact's yearly events in the Calendar folder.
    void Save();
    // Writes the yearly calendar entries of the contact's set dates anew, from
    // the dates as they are (the reminder run); the file changes only where a
    // date was stored with a time of day.
    void refreshYearlyEvents();

private:
    void save(bool birthdayEvent, bool anniversaryEvent);
    QString eventKey() const;

    std::shared_ptr<VCardFile> m_file;
    int m_card;
    ContactData m_data;
    QString m_calendarFolder;
    std::optional<QDate> m_birthday;
    std::optional<QDate> m_anniversary;
};

} // namespace hostmail
