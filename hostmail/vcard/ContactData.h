#pragma once

#include "hostmail/vcard/VCardFile.h"

#include <QDate>
#include <QStringList>

namespace hostmail {

// The host's value for an unset birthday or anniversary.
inline QDate noDateValue()
{
    return QDate(4501, 1, 1);
}
// Whether a birthday or anniversary is set: the one rule for "no date".
inline bool isDateSet(const QDate &date)
{
    return date.isValid() && date != noDateValue();
}

// How a date property was written, so that a new value goes back in the same
// form: 19850314 or 1985-03-14; year-less as --0314 or --03-14, or with
// Apple's placeholder year (X-APPLE-OMIT-YEAR, usually 1604) in either form.
enum class DateForm { Basic, Extended, YearlessBasic, YearlessExtended, AppleNoYear, AppleNoYearBasic };

struct DateField {
    // Index into the card's lines of the property, -1 when the card has none.
    // A property whose value is no date (VALUE=text, empty) has a line but
    // no date, and a new date replaces that line.
    int line = -1;
    bool valid = false; // the line holds a date
    QDate date = noDateValue();
    DateForm form = DateForm::Extended;
    int placeholderYear = 1604; // the year an Apple form writes for "no year"
    bool hasTime = false;       // written as a date-time; a write keeps the date only
};

// What a card holds, in the host's terms.
struct ContactData {
    QString uid;
    QString fullName;
    QString firstName;
    QString lastName;
    QStringList emails; // in file order; an empty slot for a value that is no single mailbox
    QString spouse;
    QString children;
    QString categories;
    DateField birthday;
    DateField anniversary;
    bool isGroup = false;
    bool hideMembers = false; // a private list: members must not see each other
    QStringList members;      // urn:uuid:..., mailto:... or plain addresses
};

ContactData readContact(const VCardCard &card);

// Whether a text is exactly one mailbox: "local@domain", optionally with a
// display name ("Ann Berg <ann@example.org>"). A list of addresses, a group
// or a bare name is not.
bool isSingleMailbox(const QString &value);

// Date parsing and writing in the forms real address books use.
bool parseVCardDate(const QByteArray &value, QDate *date, DateForm *form);
// A date in form; a year-less form writes the leap year 2000 that year-less
// dates read as without a year again (Apple's with placeholderYear).
QByteArray formatVCardDate(const QDate &date, DateForm form, int placeholderYear = 1604);

} // namespace hostmail
