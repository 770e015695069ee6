#include "hostmail/Folder.h"

#include "hostmail/AppointmentItem.h"
#include "hostmail/AtomicFile.h"
#include "hostmail/ContactItem.h"
#include "hostmail/DistListItem.h"
#include "hostmail/HostEnums.h"
#include "hostmail/HostError.h"
#include "hostmail/ICalendar.h"
#include "hostmail/NoteItem.h"
#include "hostmail/VCardFile.h"

#include <QDir>

namespace hostmail {

namespace {

QStringList filesIn(const QString &folder, const char *pattern)
{
    QDir dir(folder);
    if (!dir.exists())
        throw HostError(QStringLiteral("Folder %1 does not exist").arg(folder));
    return dir.entryList({QLatin1String(pattern)}, QDir::Files | QDir::Readable, QDir::Name);
}

} // namespace

QString Folder::path() const
{
    switch (m_kind) {
    case olFolderContacts:
        return m_paths.contacts;
    case olFolderCalendar:
        return m_paths.calendar;
    case olFolderNotes:
        return m_paths.notes;
    default:
        return {};
    }
}

Items Folder::items() const
{
    switch (m_kind) {
    case olFolderContacts:
        return contacts();
    case olFolderCalendar:
        return calendar();
    case olFolderNotes:
        return notes();
    default:
        throw HostError(QStringLiteral("No default folder %1").arg(m_kind));
    }
}

Items Folder::contacts() const
{
    Items::List list;
    const QString folder = m_paths.contacts;
    for (const QString &name : filesIn(folder, "*.vcf")) {
        std::shared_ptr<VCardFile> file;
        try {
            file = VCardFile::load(folder + QLatin1Char('/') + name);
        } catch (const HostError &) {
            continue; // an unreadable file holds no contact we can offer
        }
        for (int i = 0; i < file->cards().size(); ++i) {
            ContactData data = readContact(file->cards().at(i));
            if (data.isGroup)
                list.push_back(std::make_shared<DistListItem>(file, i, std::move(data)));
            else
                list.push_back(std::make_shared<ContactItem>(file, i, std::move(data), m_paths.calendar));
        }
    }
    return Items(std::move(list));
}

Items Folder::calendar() const
{
    Items::List list;
    const QString folder = m_paths.calendar;
    for (const QString &name : filesIn(folder, "*.ics")) {
        try {
            const QByteArray bytes = readWholeFile(folder + QLatin1Char('/') + name);
            const QList<CalendarEvent> events = readCalendarEvents(bytes);
            for (const CalendarEvent &e : events) {
                // A file of one event is exported as it is, byte for byte.
                list.push_back(std::make_shared<AppointmentItem>(e.subject, e.start,
                                                                 events.size() == 1 ? bytes : e.calendar));
            }
        } catch (const HostError &) {
            continue;
        }
    }
    return Items(std::move(list));
}

Items Folder::notes() const
{
    Items::List list;
    const QString folder = m_paths.notes;
    for (const QString &name : filesIn(folder, "*.txt")) {
        try {
            list.push_back(std::make_shared<NoteItem>(readWholeFile(folder + QLatin1Char('/') + name)));
        } catch (const HostError &) {
            continue;
        }
    }
    return Items(std::move(list));
}

} // namespace hostmail
