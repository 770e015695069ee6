#pragma once

#include "hostmail/model/ApplicationFactory.h"

#include <QDate>

namespace shell {

inline const QString kLaunchTaskSubject =
    QStringLiteral("Please launch Cheerpost to send Birthday / Anniversary emails");

// The first day of the month after today's (December rolls to January).
QDate launchTaskStart(const QDate &today);

// When SetTask is empty, creates the monthly launch reminder task and only
// then writes SetTask = "1". A host failure leaves SetTask empty; returns
// whether a task was created.
bool ensureLaunchTask(const hostmail::ApplicationFactory &openHost, const QDate &today);

} // namespace shell
