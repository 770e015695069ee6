#include "hostmail/model/TaskItem.h"

#include "hostmail/HostError.h"
#include "hostmail/ical/ICalendar.h"
#include "hostmail/store/AtomicFile.h"

#include <QDir>
#include <QUuid>

namespace hostmail {

RecurrencePattern &TaskItem::GetRecurrencePattern()
{
    if (!m_pattern)
        m_pattern.emplace();
    return *m_pattern;
}

void TaskItem::Save()
{
    if (m_uid.isEmpty())
        m_uid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    TaskData t;
    t.uid = m_uid;
    t.subject = m_subject;
    t.startDate = m_start;
    t.dueDate = m_due;
    t.importance = m_importance;
    t.reminderSet = m_reminder;
    if (m_pattern) {
        t.recurring = true;
        t.recurrenceType = m_pattern->RecurrenceType;
        t.dayOfMonth = m_pattern->DayOfMonth;
        t.interval = m_pattern->Interval;
        t.patternStartDate = m_pattern->PatternStartDate;
        if (!t.startDate.isValid())
            t.startDate = t.patternStartDate;
    }
    makeFolder(m_paths.tasks);
    m_savedPath = m_paths.tasks + QLatin1Char('/') + m_uid + QLatin1String(".ics");
    writeFileAtomically(m_savedPath, taskCalendar(t));
}

} // namespace hostmail
