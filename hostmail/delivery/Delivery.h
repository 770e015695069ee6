#pragma once

#include "hostmail/mime/MimeMessage.h"
#include "hostmail/model/DistributionLists.h"
#include "hostmail/store/StorePaths.h"

#include <QDateTime>
#include <QHash>
#include <QStringList>

#include <optional>

namespace hostmail {

struct DeliveryReport {
    int delivered = 0;
    int failed = 0;     // attempts that failed this run; tried again later
    int waiting = 0;    // not yet due, or waiting for the next attempt
    int keptAside = 0;  // handed over but not filed in Sent: never handed over again
    QStringList errors; // one line a failure
};

// Hands the due messages of the Outbox to the delivery command (sendmail -t
// style: the message on standard input, recipients from its headers) and
// files each delivered one in Sent. Exactly once: deliveries hold a lock on
// the Outbox, one at a time, and a message is marked before it is handed
// over; one that went out is never handed over again, even when it cannot be
// filed in Sent (it stays aside in the Outbox and the failure is reported).
// A command that fails, or exits 0 without reading the whole message, leaves
// it queued, to be tried again after a growing wait. Every failure is
// written to the delivery log beside the Maildirs.
class Delivery {
public:
    explicit Delivery(StorePaths paths) : m_paths(std::move(paths)) {}

    DeliveryReport deliverDue(const QDateTime &now) const;

    // The member addresses of the distribution list of that name (no case).
    mime::ListMembers listMembers(const QString &name) const;

private:
    void log(const QDateTime &now, const QString &file, const QStringList &recipients, const QString &what) const;
    StorePaths m_paths;
    mutable std::optional<DistributionLists> m_lists;
};

} // namespace hostmail
