#pragma once

#include "hostmail/model/RecurrencePattern.h"
#include "hostmail/store/StorePaths.h"

#include <QString>

#include <optional>

namespace hostmail {

// A new task; Save writes it to the Tasks folder as a VTODO.
class TaskItem {
public:
    explicit TaskItem(StorePaths paths) : m_paths(std::move(paths)) {}

    RecurrencePattern &GetRecurrencePattern();
    void setStartDate(const QDate &d) { m_start = d; }
    void setDueDate(const QDate &d) { m_due = d; }
    void setSubject(const QString &s) { m_subject = s; }
    void setImportance(int i) { m_importance = i; }
    void setReminderSet(bool on) { m_reminder = on; }
    void Save(); // throws HostError
    QString savedPath() const { return m_savedPath; }

private:
    StorePaths m_paths;
    std::optional<RecurrencePattern> m_pattern;
    QDate m_start;
    QDate m_due;
    QString m_subject;
    int m_importance = 1;
    bool m_reminder = false;
    QString m_uid;
    QString m_savedPath;
};

} // namespace hostmail
