#include "reminders/core/ReminderRun.h"

#include "common/core/Prompter.h"
#include "common/core/RunReport.h"
#include "hostmail/HostError.h"
#include "hostmail/model/ContactItem.h"
#include "hostmail/model/Folder.h"
#include "hostmail/model/HostEnums.h"
#include "hostmail/store/AtomicFile.h"
#include "hostmail/vcard/ContactData.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QLocale>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace reminders {

using hostmail::HostError;

QString logDate(const QDate &date)
{
    return QStringLiteral("%1/%2/%3").arg(date.month()).arg(date.day()).arg(date.year());
}

QString logDateTime(const QDateTime &when)
{
    return logDate(when.date()) + QLatin1Char(' ') + QLocale::c().toString(when.time(), QStringLiteral("h:mm:ss AP"));
}

ReminderRun::ReminderRun(hostmail::ApplicationFactory openHost, common::Prompter &prompter)
    : m_openHost(std::move(openHost)), m_prompter(prompter)
{
}

int openLogFile(const QString &name)
{
    const QByteArray path = QFile::encodeName(name);
    // An existing log is emptied only when it is a plain file of its own;
    // without following a link, and without waiting on a pipe.
    int fd = ::open(path.constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 && ::ftruncate(fd, 0) == 0 &&
            ::fcntl(fd, F_SETFL, 0) == 0)
            return fd;
        ::close(fd);
        ::unlink(path.constData()); // a name shared with another file: this one gets a file of its own
    } else if (errno != ENOENT) {
        ::unlink(path.constData()); // a link or a pipe in its place is removed, never followed
    }
    return ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0644);
}

bool ReminderRun::run(const std::function<QDateTime()> &clock)
{
    if (!m_prompter.askYesNo(common::kAppTitle, kReminderQuestion))
        return false;
    common::RunReport report(QStringLiteral("contact"), QStringLiteral("contacts"));
    QString whyNothing;
    hostmail::Items items;
    m_logPath.clear();
    std::unique_ptr<hostmail::Application> app;
    if (beforeOpening && !beforeOpening())
        return false;
    try {
        app = m_openHost();
        try {
            hostmail::makeFolder(app->paths().state);
            m_logPath = app->paths().state + QLatin1Char('/') + kReminderLog;
        } catch (const HostError &) {
            // no log: the closing message says so
        }
        items = app->GetNamespace(QStringLiteral("MAPI")).GetDefaultFolder(hostmail::olFolderContacts).items();
    } catch (const HostError &e) {
        whyNothing = QStringLiteral("the contacts cannot be read (%1)").arg(QString::fromUtf8(e.what()));
    }
    hostmail::reportSkippedFiles(items, report);

    QFile log;
    const bool logging =
        !m_logPath.isEmpty() && log.open(openLogFile(m_logPath), QIODevice::WriteOnly, QFileDevice::AutoCloseHandle);
    if (!logging)
        m_logPath.clear();
    auto line = [&](const QString &text) {
        if (logging) {
            log.write(text.toUtf8() + "\r\n");
            log.flush();
        }
    };
    line(QStringLiteral("Started on: ") + logDateTime(clock()));
    QHash<QString, int> savedIn; // contact file -> contacts saved in it
    if (app) {
        app->startBatch(); // contact and event files reach the disk together
        for (const auto &item : items) {
            auto *contact = dynamic_cast<hostmail::ContactItem *>(item.get());
            if (!contact)
                continue; // a distribution list has no dates
            const QDate birthday = contact->Birthday();
            const QDate anniversary = contact->Anniversary();
            const QString name = contact->FirstName() + QLatin1Char(' ') + contact->LastName();
            const bool hasBirthday = hostmail::isDateSet(birthday), hasAnniversary = hostmail::isDateSet(anniversary);
            if (!hasBirthday && !hasAnniversary)
                continue;
            if (hasBirthday)
                line(name + QLatin1String(" - BIRTHDAY- ") + logDate(birthday));
            if (hasAnniversary)
                line(name + QLatin1String(" - ANNIVER - ") + logDate(anniversary));
            try {
                contact->refreshYearlyEvents();
                ++savedIn[contact->filePath()];
            } catch (const HostError &e) {
                report.notSaved(e.reason());
            }
        }
        try {
            app->finishBatch();
        } catch (const HostError &e) {
            // A contact file the disk refused: its contacts were not saved.
            for (const QString &file : e.files()) {
                for (int n = savedIn.take(file); n > 0; --n)
                    report.notSaved(e.reason());
            }
        }
    }
    for (auto it = savedIn.cbegin(); it != savedIn.cend(); ++it) {
        for (int n = 0; n < it.value(); ++n)
            report.made(QStringLiteral("saved with their yearly calendar entries"));
    }
    line(QStringLiteral("Ended On: ") + logDateTime(clock()));
    if (logging)
        ::fsync(log.handle()); // the record of a finished run outlasts a power cut
    log.close();

    if (whyNothing.isEmpty())
        whyNothing = report.notSavedCount() > 0 ? QStringLiteral("no contact could be saved")
                                                : QStringLiteral("no contact has a birthday or anniversary");
    QStringList lines = report.lines();
    lines.append(m_logPath.isEmpty() ? QStringLiteral("No log could be written.")
                                     : QStringLiteral("The log of this run is %1.").arg(m_logPath));
    const QString head = report.madeCount() > 0
                             ? QStringLiteral("The birthday and anniversary reminders were generated.")
                             : QStringLiteral("No reminders were generated: %1.").arg(whyNothing);
    m_prompter.tell(common::kAppTitle, head + QLatin1String("\n\n") + lines.join(QLatin1Char('\n')),
                    report.notSavedCount() > 0 || report.skippedCount() > 0 ? common::MessageIcon::Exclamation
                                                                            : common::MessageIcon::Information);
    return true;
}

} // namespace reminders
