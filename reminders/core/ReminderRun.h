#pragma once

#include "hostmail/model/ApplicationFactory.h"

#include <QDateTime>

namespace common {
class Prompter;
}

namespace reminders {

inline const QString kReminderQuestion =
    QStringLiteral("Please run this utility only after importing your Contacts\r"
                   "into Outlook from an external source.\r"
                   "\r"
                   "This will generate the Birthday / Anniversary reminders for all your\r"
                   "Contacts in your Outlook Calendar.\r"
                   "\r"
                   "Are you sure you wish to run this utility?");
inline const QString kReminderLog = QStringLiteral("GenerateReminders.txt");

// Opens the reminder log at name for a new run: emptied, or made anew. It never follows a symbolic link and never
// writes to a file that has another name too (a link in its place is removed), so nothing outside the folder is
// written. Returns a descriptor, or -1.
int openLogFile(const QString &name);

// Dates in the log: month/day/year without leading zeros.
QString logDate(const QDate &date);
QString logDateTime(const QDateTime &when);

// "Generate Reminders after Import": writes every set birthday and anniversary
// anew and saves the contact, so that the host refreshes its yearly events, and
// keeps a log of what it touched in the store's state folder. The closing
// message says how many contacts were saved, which were not and why, and where
// the log is.
class ReminderRun {
public:
    ReminderRun(hostmail::ApplicationFactory openHost, common::Prompter &prompter);
    // Asked once the run's own checks and questions are done, right before
    // it opens the contacts (the address book sync); false ends the run
    // with nothing written and nothing more said.
    std::function<bool()> beforeOpening;
    // clock gives the time for the start and end lines. Returns false on No.
    bool run(const std::function<QDateTime()> &clock);
    // The log of the last run, empty when none could be written.
    QString logPath() const { return m_logPath; }

private:
    hostmail::ApplicationFactory m_openHost;
    common::Prompter &m_prompter;
    QString m_logPath;
};

} // namespace reminders
