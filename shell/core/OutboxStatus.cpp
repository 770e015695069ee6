#include "shell/core/OutboxStatus.h"

#include "common/core/ShortDate.h"

#include <QLocale>

namespace shell {

namespace {

QString when(const QDateTime &t)
{
    return common::dateText(t.date()) + QLatin1Char(' ') + QLocale().toString(t.time(), QLocale::ShortFormat);
}

} // namespace

QString outboxStatusText(const hostmail::OutboxEntry &e)
{
    using Status = hostmail::OutboxEntry::Status;
    switch (e.status) {
    case Status::Waiting:
        return QStringLiteral("Waiting");
    case Status::Failed:
        return e.retryAt.isValid()
                   ? QStringLiteral("Failed: %1; will be tried again on %2").arg(e.reason, when(e.retryAt))
                   : QStringLiteral("Failed: %1; will be tried again on the next delivery").arg(e.reason);
    case Status::Held:
        return QStringLiteral("Held: %1").arg(e.reason);
    case Status::NotFiled:
        return QStringLiteral("Delivered; not yet filed in Sent");
    }
    return {};
}

QString outboxDueText(const hostmail::OutboxEntry &e, const QDateTime &now)
{
    return !e.due.isValid() || e.due <= now ? QStringLiteral("now") : common::dateText(e.due.date());
}

QString outboxAttention(int failed, int held)
{
    QStringList parts;
    if (failed > 0)
        parts.append(QStringLiteral("%1 failed").arg(failed));
    if (held > 0)
        parts.append(QStringLiteral("%1 held").arg(held));
    if (parts.isEmpty())
        return {};
    return QStringLiteral("Outbox: %1").arg(parts.join(QLatin1String(", ")));
}

QString sendHeldAgainQuestion(const hostmail::OutboxEntry &e)
{
    return QStringLiteral("\"%1\" to %2 may already have gone out.\rSend it again?").arg(e.subject, e.recipients);
}

QString removeQuestion(const hostmail::OutboxEntry &e)
{
    return QStringLiteral("Remove \"%1\" to %2 from the Outbox? It will not be sent.").arg(e.subject, e.recipients);
}

} // namespace shell
