#include "hostmail/model/Folder.h"

#include "common/core/RunReport.h"
#include "hostmail/HostError.h"
#include "hostmail/ical/ICalendar.h"
#include "hostmail/model/AppointmentItem.h"
#include "hostmail/model/ContactItem.h"
#include "hostmail/model/DistListItem.h"
#include "hostmail/model/HostEnums.h"
#include "hostmail/model/NoteItem.h"
#include "hostmail/store/AtomicFile.h"
#include "hostmail/store/Limits.h"
#include "hostmail/store/WriteBatch.h"
#include "hostmail/vcard/VCardFile.h"

#include <QFile>

#include <algorithm>
#include <dirent.h>
#include <exception>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace hostmail {

namespace {

// The names of the files in folder whose suffix is extension (case ignored),
// by name. Read straight from the directory: a folder of 100,000 contacts is
// listed without a stat of every entry.
QStringList filesIn(const QString &folder, const char *extension)
{
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        throw HostError(QStringLiteral("Folder %1 does not exist").arg(folder));
    const QByteArray suffix = QByteArray(extension).toLower();
    QStringList names;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name.startsWith('.') || name.size() <= suffix.size() || !name.toLower().endsWith(suffix))
            continue;
        if (entry->d_type != DT_REG) {
            struct stat st {};
            const QByteArray path = QFile::encodeName(folder) + '/' + name;
            if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN)
                continue;
            if (::stat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode))
                continue;
        }
        names.append(QFile::decodeName(name));
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// Why a file of the folder could not be read: its size when it is over the
// limit, else the reason the reader gave.
SkippedFile skippedFile(int folderFd, const QString &name, const QString &path, const HostError &error)
{
    struct stat st {};
    if (::fstatat(folderFd, QFile::encodeName(name).constData(), &st, 0) == 0 && S_ISREG(st.st_mode) &&
        st.st_size > kMaxAddressBookBytes)
        return {path, QStringLiteral("%1, larger than %2 MB").arg(sizeText(st.st_size)).arg(kMaxAddressBookBytes >> 20),
                true};
    QString reason = QString::fromUtf8(error.what());
    const QString prefix = QStringLiteral("Cannot read %1: ").arg(name);
    if (reason.startsWith(prefix))
        reason = reason.mid(prefix.size());
    return {path, reason, false};
}

} // namespace

int reportSkippedFiles(const Items &items, common::RunReport &report)
{
    for (const SkippedFile &f : items.skippedFiles())
        report.skipped(f.tooLarge ? QStringLiteral("contact file too large")
                                  : QStringLiteral("unreadable contact file"),
                       QStringLiteral("%1 (%2)").arg(f.path, f.reason));
    return int(items.skippedFiles().size());
}

QString noContactsReason(bool storeOpened, const std::exception &error)
{
    return (storeOpened ? QStringLiteral("the contacts cannot be read (%1)")
                        : QStringLiteral("the mail store cannot be opened (%1)"))
        .arg(QString::fromUtf8(error.what()));
}

QString sizeText(qint64 bytes)
{
    if (bytes >= 1024 * 1024)
        return QStringLiteral("%1 MB").arg((bytes + 512 * 1024) / (1024 * 1024));
    if (bytes >= 1024)
        return QStringLiteral("%1 KB").arg((bytes + 512) / 1024);
    return QStringLiteral("%1 bytes").arg(bytes);
}

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
        return contacts({});
    case olFolderCalendar:
        return calendar();
    case olFolderNotes:
        return notes();
    default:
        throw HostError(QStringLiteral("No default folder %1").arg(m_kind));
    }
}

Items Folder::items(const ContactFilter &keep) const
{
    return m_kind == olFolderContacts ? contacts(keep) : items();
}

Items Folder::contacts(const ContactFilter &keep) const
{
    const QString folder = m_paths.contacts;
    const QStringList names = filesIn(folder, ".vcf");
    if (WriteBatch *batch = WriteBatch::current())
        batch->commit(); // the readers below run on other threads
    const int folderFd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        throw HostError(QStringLiteral("Folder %1 does not exist").arg(folder));
    const std::unique_ptr<const int, void (*)(const int *)> closeFolder(&folderFd, [](const int *fd) { ::close(*fd); });
    // Read and parse on every core: each worker fills its own slice of the
    // names in order, and the slices are joined in order.
    const int workers = names.size() < 1000 ? 1 : qBound(1, int(std::thread::hardware_concurrency()), 4);
    std::vector<Items::List> parts(static_cast<size_t>(workers));
    std::vector<QList<SkippedFile>> skipped(static_cast<size_t>(workers));
    std::vector<std::exception_ptr> failures(static_cast<size_t>(workers));
    std::vector<int> read(static_cast<size_t>(workers), 0);
    auto loadPart = [&](int part) {
        Items::List &list = parts[static_cast<size_t>(part)];
        int &contactsRead = read[static_cast<size_t>(part)];
        const qsizetype from = names.size() * part / workers, to = names.size() * (part + 1) / workers;
        for (qsizetype n = from; n < to; ++n) {
            const QString path = folder + QLatin1Char('/') + names.at(n);
            std::shared_ptr<VCardFile> file;
            try {
                file = VCardFile::fromBytes(path, readWholeFileAt(folderFd, names.at(n), kMaxAddressBookBytes),
                                            VCardFile::Parse::CardsOnly);
            } catch (const HostError &e) {
                // An unreadable file holds no contact we can offer; the run names it.
                skipped[static_cast<size_t>(part)].append(skippedFile(folderFd, names.at(n), path, e));
                continue;
            }
            // Card by card: a large file's lines are never all parsed at once.
            for (int i = 0; i < file->cards().size(); ++i) {
                ContactData data = readContact(file->parsedCard(i));
                if (data.isGroup) {
                    list.push_back(std::make_shared<DistListItem>(file, i, std::move(data)));
                    continue;
                }
                ++contactsRead;
                if (!keep || keep(data))
                    list.push_back(std::make_shared<ContactItem>(file, i, std::move(data), m_paths.calendar));
            }
            file->release(); // what each item needs was read above; an edit reads the file again
        }
    };
    auto load = [&](int part) {
        try {
            loadPart(part);
        } catch (...) { // out of memory: reported on the calling thread
            failures[static_cast<size_t>(part)] = std::current_exception();
        }
    };
    {
        std::vector<std::jthread> threads;
        for (int part = 1; part < workers; ++part)
            threads.emplace_back(load, part);
        load(0);
    } // the workers are joined here
    for (const std::exception_ptr &failure : failures) {
        if (failure)
            std::rethrow_exception(failure);
    }
    Items::List list = std::move(parts[0]);
    QList<SkippedFile> problems = std::move(skipped[0]);
    int contactsRead = read[0];
    for (size_t part = 1; part < parts.size(); ++part) {
        list.insert(list.end(), std::make_move_iterator(parts[part].begin()),
                    std::make_move_iterator(parts[part].end()));
        problems.append(skipped[part]);
        contactsRead += read[part];
    }
    return Items(std::move(list), std::move(problems), contactsRead);
}

Items Folder::calendar() const
{
    Items::List list;
    const QString folder = m_paths.calendar;
    for (const QString &name : filesIn(folder, ".ics")) {
        try {
            const QByteArray bytes = readWholeFile(folder + QLatin1Char('/') + name, kMaxContactFileBytes);
            const QList<CalendarEvent> events = readCalendarEvents(bytes);
            for (const CalendarEvent &e : events) {
                // A file of one event is exported as it is, byte for byte.
                list.push_back(
                    std::make_shared<AppointmentItem>(e.subject, e.start, events.size() == 1 ? bytes : e.calendar));
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
    for (const QString &name : filesIn(folder, ".txt")) {
        try {
            list.push_back(
                std::make_shared<NoteItem>(readWholeFile(folder + QLatin1Char('/') + name, kMaxContactFileBytes)));
        } catch (const HostError &) {
            continue;
        }
    }
    return Items(std::move(list));
}

} // namespace hostmail
