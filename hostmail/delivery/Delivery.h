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
    int failed = 0;       // attempts that failed this run; tried again later
    int waiting = 0;      // not yet due, or waiting for the next attempt
    int retrying = 0;     // of those waiting: failed before, tried again later
    int keptAside = 0;    // handed over but not filed in Sent: never handed over again
    int held = 0;         // waiting for the user: may have gone out, or cannot go as it is
    bool stopped = false; // the run could not go on (its state cannot be trusted)
    bool trouble = false; // something needs the user: the agent exits 1 and points to the log
    QStringList errors;   // one line a failure
    QStringList news;     // what went wrong for the first time this run, for a notification

    // The agent's one-line summary: "1 delivered, 0 failed, 2 waiting, 1 held".
    QString summary() const;
};

// One message of the Outbox as the user sees it.
struct OutboxEntry {
    enum class Status { Waiting, Failed, Held, NotFiled };
    QString file;
    QString subject;
    QString recipients; // To, Cc and Bcc as written
    QDateTime due;      // invalid: at once
    Status status = Status::Waiting;
    QString reason;    // why it failed or is held
    QDateTime retryAt; // a failed one is tried again then
};

// Hands the due messages of the Outbox to the user's mail account (SMTP,
// one connection a run), or without one to the delivery command (sendmail -t
// style: the message on standard input, recipients from its headers), and
// files each delivered one in Sent. Exactly once: deliveries hold a lock on
// the Mail folder, one at a time, and a message is marked before it is handed
// over; one that went out is never handed over again, even when it cannot be
// filed in Sent (it stays aside in the Outbox and the failure is reported).
// One interrupted while being handed over may have gone out: it is held, and
// only the user sends it again or removes it. A command that fails, or exits
// 0 without reading the whole message, leaves it queued, to be tried again
// after a growing wait. A file that cannot be sent as it is (unreadable, too
// large) is held and reported once. Every failure is written to the delivery
// log beside the Maildirs.
class Delivery {
public:
    explicit Delivery(StorePaths paths) : m_paths(std::move(paths)) {}

    DeliveryReport deliverDue(const QDateTime &now) const;

    // What waits in the Outbox, and why where it does not simply wait.
    QList<OutboxEntry> outbox() const;
    // How many messages failed or are held, from the delivery's own record
    // alone: cheap enough to ask often. Throws HostError.
    QPair<int, int> failedAndHeld() const;
    // The user's answers: send a failed or held message on the next run, or
    // take it out of the Outbox for good. Throws HostError.
    void retry(const QString &file) const;
    void remove(const QString &file) const;

    // The member addresses of the distribution list of that name (no case).
    mime::ListMembers listMembers(const QString &name) const;

    // With a mail account's rate limit: how long one run may wait for it
    // before it leaves the rest to the next run.
    int throttleBudgetSeconds = 600;

private:
    // What became of one hand-over.
    struct Handover {
        // NotSent: the account stopped the run; Unsendable: this message
        // cannot go as it is, and is held.
        enum class Kind { Delivered, Retry, Unknown, NotSent, Unsendable };
        Kind kind;
        QString what; // why, or for a delivered one what the server refused
    };
    class Account;
    Handover handOver(const mime::Outgoing &out) const;
    void log(const QDateTime &now, const QString &file, const QStringList &recipients, const QString &what) const;
    QString stateFile() const;
    StorePaths m_paths;
    mutable std::optional<DistributionLists> m_lists;
};

} // namespace hostmail
