#pragma once

#include "hostmail/store/StorePaths.h"

#include <QDateTime>
#include <QHash>
#include <QStringList>

#include <optional>

namespace hostmail {

struct DeliveryReport {
    int delivered = 0;
    int failed = 0;
    int waiting = 0; // not yet due
    QStringList errors;
};

// Hands due messages of the Outbox to the delivery command (sendmail -t style:
// the message on standard input, recipients from its headers) and moves each
// delivered one to Sent. A failed or timed-out delivery leaves it in Outbox.
class Delivery {
public:
    explicit Delivery(StorePaths paths) : m_paths(std::move(paths)) {}

    DeliveryReport deliverDue(const QDateTime &now) const;
    // Delivers one Outbox message now; returns where it ended, or throws HostError.
    QString deliver(const QString &outboxFile) const;

    // Member addresses of the distribution list of that name (no case), or empty.
    QStringList listMembers(const QString &name) const;

private:
    void pipeToCommand(const QByteArray &message) const;
    StorePaths m_paths;
    mutable std::optional<QHash<QString, QStringList>> m_lists;
};

} // namespace hostmail
