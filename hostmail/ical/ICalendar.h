#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>

namespace hostmail {

// iCalendar text through libical: the host's yearly occasion events, its
// tasks, and the events of the Calendar folder read back.

// A yearly all-day event from date; one of 29 February falls on 1 March in
// common years.
QByteArray yearlyEventCalendar(const QString &uid, const QString &summary, const QDate &date);

// The start dates of an .ics file's first event from..to (both inclusive),
// as its recurrence gives them.
QList<QDate> occurrences(const QByteArray &ics, const QDate &from, const QDate &to);

struct TaskData {
    QString uid;
    QString subject;
    QDate startDate;
    QDate dueDate;
    int importance = 1; // olImportance*
    bool reminderSet = false;
    bool recurring = false;
    int recurrenceType = 2; // olRecurs*
    int dayOfMonth = 1;
    int interval = 1;
    QDate patternStartDate;
};
QByteArray taskCalendar(const TaskData &task);

struct CalendarEvent {
    QString subject;
    QDateTime start;
    QByteArray calendar; // a VCALENDAR holding this one event
};
// Every VEVENT of an .ics file; throws HostError when it is no calendar.
QList<CalendarEvent> readCalendarEvents(const QByteArray &ics);

} // namespace hostmail
