#include "shell/core/LaunchTask.h"

#include "hostmail/HostError.h"
#include "hostmail/model/HostEnums.h"
#include "hostmail/model/TaskItem.h"
#include "shell/core/SettingsKey.h"

namespace shell {

QDate launchTaskStart(const QDate &today)
{
    int m = today.month();
    int y = today.year();
    if (m > 11) {
        m = 1;
        ++y;
    } else {
        ++m;
    }
    return QDate(y, m, 1);
}

bool ensureLaunchTask(const hostmail::ApplicationFactory &openHost, const QDate &today)
{
    if (!readSetting(QStringLiteral("SetTask")).isEmpty())
        return false;
    const QDate start = launchTaskStart(today);
    try {
        const std::unique_ptr<hostmail::Application> app = openHost();
        auto task = app->CreateTaskItem();
        hostmail::RecurrencePattern &pattern = task->GetRecurrencePattern();
        pattern.RecurrenceType = hostmail::olRecursMonthly;
        pattern.DayOfMonth = 1;
        pattern.Interval = 1;
        pattern.PatternStartDate = start;
        task->setStartDate(start);
        task->setDueDate(start);
        task->setSubject(kLaunchTaskSubject);
        task->setImportance(hostmail::olImportanceHigh);
        task->setReminderSet(true);
        task->Save();
    } catch (const hostmail::HostError &) {
        return false; // SetTask stays empty: the next start tries again
    }
    writeSetting(QStringLiteral("SetTask"), QStringLiteral("1"));
    return true;
}

} // namespace shell
