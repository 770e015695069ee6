#pragma once

#include "hostmail/vcard/ContactData.h"

#include <QString>

namespace hostmail {

// The host's yearly all-day events for contacts' birthdays and anniversaries:
// one file a contact and occasion in the Calendar folder, named by a UID that
// stays the same for that contact and occasion.
class YearlyEvents {
public:
    explicit YearlyEvents(QString calendarFolder) : m_folder(std::move(calendarFolder)) {}

    // Creates or rewrites the event of each set date asked for, removes that of
    // an unset one. The writes go after contactFile's: when that write fails
    // in a batch, they fail too.
    void refresh(const QString &contactKey, const ContactData &contact, bool birthday, bool anniversary,
                 const QString &contactFile = QString()) const;

    static QString eventUid(const QString &contactKey, const char *occasion);

private:
    void refreshOne(const QString &contactKey, const char *occasion, const QString &summary, const QDate &date,
                    const QString &contactFile) const;
    QString m_folder;
};

} // namespace hostmail
