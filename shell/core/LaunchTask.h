#pragma once

#include "hostmail/Application.h"

#include <QDate>

#include <functional>
#include <memory>

namespace shell {

using ApplicationFactory = std::function<std::unique_ptr<hostmail::Application>()>;

inline const QString kLaunchTaskSubject =
    QStringLiteral("Please launch Cheerpost to send Birthday / Anniversary emails");

// The first day of the month after today's (December rolls to January).
QDate launchTaskStart(const QDate &today);

// When SetTask is empty, creates the monthly launch reminder task and only
// then writes SetTask = "1". A host failure leaves SetTask empty; returns
// whether a task was created.
bool ensureLaunchTask(const ApplicationFactory &openHost, const QDate &today);

} // namespace shell
