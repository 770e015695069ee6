#include "hostmail/delivery/Delivery.h"

#include "hostmail/HostError.h"
#include "hostmail/delivery/DeliveryState.h"
#include "hostmail/delivery/Outcome.h"
#include "hostmail/model/DistributionLists.h"
#include "hostmail/model/Folder.h"
#include "hostmail/model/HostEnums.h"
#include "hostmail/process/CommandRunner.h"
#include "hostmail/signin/SignIn.h"
#include "hostmail/smtp/SmtpSession.h"
#include "hostmail/store/AtomicFile.h"
#include "hostmail/store/Limits.h"
#include "hostmail/store/Maildir.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace hostmail {

namespace {

// Holds the Outbox for one delivery run, or for a change the user makes: an
// exclusive lock on the Mail folder itself, which no one can swap for another
// file under a running delivery; released when the process ends, however it
// ends.
class OutboxLock {
public:
    explicit OutboxLock(const QString &mail)
    {
        m_fd = ::open(QFile::encodeName(mail).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (m_fd < 0)
            throw HostError(QStringLiteral("Cannot lock the Outbox in %1: %2")
                                .arg(mail, QString::fromLocal8Bit(std::strerror(errno))));
        while (::flock(m_fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                ::close(m_fd);
                throw HostError(QStringLiteral("Cannot lock the Outbox in %1").arg(mail));
            }
        }
    }
    ~OutboxLock() { ::close(m_fd); }
    OutboxLock(const OutboxLock &) = delete;
    OutboxLock &operator=(const OutboxLock &) = delete;

private:
    int m_fd = -1;
};

// The first part of a message, enough for its header.
QByteArray messageHead(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.read(256 * 1024);
}

} // namespace

QString DeliveryReport::summary() const
{
    QString line = QStringLiteral("%1 delivered, %2 failed, %3 waiting").arg(delivered).arg(failed).arg(waiting);
    if (retrying > 0)
        line += QStringLiteral(" (%1 to try again)").arg(retrying);
    if (held > 0)
        line += QStringLiteral(", %1 held").arg(held);
    if (keptAside > 0)
        line += QStringLiteral(", %1 delivered but not filed in Sent").arg(keptAside);
    if (stopped)
        line += QStringLiteral("; stopped");
    return line;
}

QString Delivery::stateFile() const
{
    return m_paths.mail + QLatin1String("/.cheerpost-delivery-state");
}

mime::ListMembers Delivery::listMembers(const QString &name) const
{
    if (!m_lists) {
        try {
            m_lists.emplace(Folder(olFolderContacts, m_paths).items());
        } catch (const HostError &) {
            m_lists.emplace(); // no contacts folder: no list is known
        }
    }
    return m_lists->members(name);
}

void Delivery::log(const QDateTime &now, const QString &file, const QStringList &recipients, const QString &what) const
{
    // One entry a failed attempt, appended: a record for the user to read.
    // Never through a link, and never into a file that has another name too.
    const int fd = ::open(QFile::encodeName(m_paths.deliveryLog()).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1) {
        const QString entry =
            QStringLiteral("%1 %2\n  to: %3\n  %4\n")
                .arg(now.toString(Qt::ISODate), file,
                     recipients.isEmpty() ? QStringLiteral("(no recipient)") : recipients.join(QLatin1String(", ")),
                     what.trimmed().replace(QLatin1Char('\n'), QLatin1String("\n  ")));
        writeAll(fd, entry.toUtf8());
    }
    ::close(fd);
}

Delivery::Handover Delivery::handOver(const mime::Outgoing &out) const
{
    const CommandResult result =
        runWithInput(QProcess::splitCommand(m_paths.deliveryCommand), out.message, m_paths.deliveryTimeoutSeconds);
    if (result.succeeded())
        return {Handover::Kind::Delivered, {}};
    QString what = QStringLiteral("%1 %2").arg(m_paths.deliveryCommand, result.describe());
    if (!result.errorTail.isEmpty())
        what += QLatin1Char('\n') + QString::fromLocal8Bit(result.errorTail);
    return {Handover::Kind::Retry, what};
}

// The mail account for one delivery run: one connection for every message,
// opened at the first, with the account's rate limit. A failure of the
// account itself (login, security, no connection) ends its part of the run:
// every message stays in the Outbox, and the run says why once.
class Delivery::Account {
public:
    Account(const StorePaths &paths, DeliveryReport &report, const std::function<void(const QString &)> &tell)
        : m_paths(paths), m_report(report), m_tell(tell)
    {
    }

    // Whether another message may go now; waits for the rate limit within
    // the run's budget.
    bool mayStart()
    {
        if (m_stopped)
            return false;
        const int limit = m_paths.smtp.maxPerMinute;
        if (limit <= 0)
            return true;
        while (m_sent.size() >= limit) {
            const qint64 wait = m_sent.first() + 60000 - m_clock.elapsed();
            if (wait <= 0) {
                m_sent.removeFirst();
                continue;
            }
            if (m_clock.elapsed() + wait > qint64(throttleBudgetSeconds) * 1000)
                return false; // the next timer run goes on from here
            std::this_thread::sleep_for(std::chrono::milliseconds(wait));
        }
        return true;
    }

    Handover send(const mime::Outgoing &out)
    {
        const QString &from = out.sender;
        if (!from.isEmpty() && !mime::isEnvelopeAddress(from))
            return {Handover::Kind::Unsendable, QStringLiteral("its sender %1 is no address a mail server takes")
                                                    .arg(mime::headerSafe(from).simplified())};
        if (from.isEmpty())
            return stop(QStringLiteral("The messages have no sender: enter your name and e-mail address in "
                                       "File > Accounts."));
        if (!m_session) {
            QString password;
            try {
                password = signin::loginSecret(m_paths, m_paths.smtp);
            } catch (const HostError &e) {
                return stop(QString::fromUtf8(e.what()));
            }
            m_session = std::make_unique<smtp::SmtpSession>(m_paths.smtp, password, m_paths.deliveryTimeoutSeconds);
        }
        QByteArray wire;
        try {
            wire = mime::forTransport(smtp::messageForTransfer(out.message, from));
        } catch (const HostError &e) {
            return {Handover::Kind::Unsendable, QString::fromUtf8(e.what())};
        }
        const smtp::SmtpResult r = m_session->send(from, out.recipients, wire);
        m_sent.append(m_clock.elapsed());
        using O = smtp::SmtpResult::Outcome;
        switch (r.outcome) {
        case O::Sent:
            return {Handover::Kind::Delivered, {}};
        case O::PartlyRefused:
            return {Handover::Kind::Delivered,
                    QStringLiteral("refused for %1").arg(r.refused.join(QLatin1String("; ")))};
        case O::Unknown:
            return {Handover::Kind::Unknown, r.text + QStringLiteral(", so it is not sent again until you send it "
                                                                     "again or remove it")};
        case O::Temporary:
        case O::Refused:
            return {Handover::Kind::Retry, r.text};
        case O::LoginRefused:
        case O::Insecure:
        case O::Unreachable:
            break;
        }
        return stop(r.text);
    }

    int throttleBudgetSeconds = 600;
    // Why the account stopped this run; empty while it goes on.
    QString stoppedBecause() const { return m_stoppedBecause; }

private:
    Handover stop(const QString &why)
    {
        m_stopped = true;
        m_stoppedBecause = why;
        m_report.stopped = true;
        m_tell(why);
        return {Handover::Kind::NotSent, why};
    }

    const StorePaths &m_paths;
    DeliveryReport &m_report;
    std::function<void(const QString &)> m_tell;
    std::unique_ptr<smtp::SmtpSession> m_session;
    bool m_stopped = false;
    QString m_stoppedBecause;
    QElapsedTimer m_clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    QList<qint64> m_sent; // when each message of the last minute went, ms into the run
};

DeliveryReport Delivery::deliverDue(const QDateTime &now) const
{
    DeliveryReport report;
    const Maildir outbox(m_paths.outbox());
    const Maildir sent(m_paths.sent());
    outbox.create();
    const OutboxLock lock(m_paths.mail);
    DeliveryState state(stateFile());
    try {
        state.load();
    } catch (const HostError &e) {
        // Without its marks a run could send a message twice: it stops.
        report.stopped = true;
        report.errors.append(QString::fromUtf8(e.what()));
        report.news.append(QString::fromUtf8(e.what()));
        return report;
    }
    const QStringList files = outbox.messages();
    QSet<QString> names;
    for (const QString &f : files)
        names.insert(Maildir::baseName(f));
    state.keepOnly(names);

    // The sender of a message that names none: the one set in the Accounts
    // window, else a mail account's login that is an address.
    mime::Mailbox sender = mime::mailbox(m_paths.from);
    if (sender.address.isEmpty() && m_paths.smtp.enabled() && m_paths.smtp.user.contains(QLatin1Char('@')))
        sender = mime::mailbox(m_paths.smtp.user);

    // The notice names a message as the user knows it: its subject and
    // recipients; the log and the error lines by its file.
    QHash<QString, QString> labels;
    // Everything an outcome entails, as its row of the outcome table says.
    auto record = [&](Outcome outcome, const QString &path, const QStringList &to, const QString &what,
                      int attempts = 0, const QDateTime &retryAt = {}) {
        const OutcomeRule &rule = ruleOf(outcome);
        const QString name = Maildir::baseName(path);
        const QString firstLine = what.section(QLatin1Char('\n'), 0, 0);
        if (rule.mark == OutcomeRule::Mark::Set) {
            state.set(name, {rule.stage, attempts, retryAt, firstLine});
            state.save();
        } else if (rule.mark == OutcomeRule::Mark::Forget) {
            state.remove(name);
        }
        ++(report.*rule.count);
        if (rule.also)
            ++(report.*rule.also);
        report.trouble = report.trouble || rule.trouble;
        if (rule.logPrefix)
            log(now, path, to, QString::fromUtf8(rule.logPrefix) + what);
        if (rule.tellPrefix) {
            const QString told = QString::fromUtf8(rule.tellPrefix) + firstLine;
            report.errors.append(QStringLiteral("%1: %2").arg(QFileInfo(path).fileName(), told));
            report.news.append(QStringLiteral("%1: %2").arg(labels.value(path, QFileInfo(path).fileName()), told));
        }
    };
    // Files the message in Sent, with the Date it went out with (handedOver;
    // none: as it is); where that cannot be done it stays aside, marked as
    // handed over, and is never handed over again. The failure is told
    // when it first happens; later runs try to file it again.
    auto file = [&](const QString &path, const QStringList &to, bool first, const QDateTime &handedOver,
                    const QString &notes) {
        try {
            const QByteArray bytes = readWholeFile(path, kMaxMessageBytes);
            QByteArray dated = mime::withSender(bytes, sender.header);
            try {
                if (handedOver.isValid())
                    dated = mime::withDate(dated, handedOver);
            } catch (const HostError &) {
                // no Date to set: filed as it is
            }
            sent.moveIn(path, QStringLiteral("S"), dated);
            record(notes.isEmpty() ? Outcome::Delivered : Outcome::DeliveredInPart, path, to, notes);
        } catch (const HostError &e) {
            if (!first) {
                record(Outcome::StillNotFiled, path, to, {});
                return;
            }
            QString what = QStringLiteral("was delivered but cannot be filed in Sent (%1); it stays in the "
                                          "Outbox and will not be sent again")
                               .arg(QString::fromUtf8(e.what()));
            if (!notes.isEmpty())
                what += QStringLiteral("; ") + notes;
            record(Outcome::NotFiled, path, to, what);
        }
    };
    auto resolve = [this](const QString &list) { return listMembers(list); };
    std::optional<Account> account;
    if (m_paths.smtp.enabled()) {
        account.emplace(m_paths, report, [&](const QString &why) {
            report.errors.append(why);
            report.news.append(why);
            log(now, m_paths.outbox(), {}, QStringLiteral("delivery stopped: ") + why);
        });
        account->throttleBudgetSeconds = throttleBudgetSeconds;
    }

    for (const QString &path : files) {
        const QString name = Maildir::baseName(path);
        const DeliveryState::Entry *known = state.find(name);
        const int attempts = known ? known->attempts : 0;
        if (known && known->stage == DeliveryState::Stage::Held) {
            record(Outcome::StillHeld, path, {}, {}); // told when it was set aside; waits for the user
            continue;
        }
        if (known && known->stage == DeliveryState::Stage::HandedOver) {
            file(path, {}, false, known->retryAt, {});
            continue;
        }
        QByteArray message;
        try {
            message = readWholeFile(path, kMaxMessageBytes);
        } catch (const HostError &e) {
            // It will not become readable by itself: set aside, told once.
            record(Outcome::Held, path, {}, QString::fromUtf8(e.what()), attempts);
            continue;
        }
        try {
            const QString subject = mime::headerText(message, "Subject").simplified();
            const QString to = mime::headerText(message, "To").simplified();
            if (!subject.isEmpty() || !to.isEmpty())
                labels.insert(path,
                              QStringLiteral("\u201C%1\u201D to %2")
                                  .arg(subject.left(80), to.isEmpty() ? QStringLiteral("no one named") : to.left(120)));
        } catch (const HostError &) {
            // no mail message: named by its file, and held below
        }
        if (known && known->stage == DeliveryState::Stage::Sending) {
            // Interrupted while being handed over: it may have gone out, so it
            // is never handed over again by itself.
            QStringList to;
            try {
                to = mime::prepareForDelivery(message, resolve).recipients;
            } catch (const HostError &) {
            }
            record(Outcome::Held, path, to,
                   QStringLiteral("an earlier delivery stopped while handing this message over; it may have gone "
                                  "out, so it is not sent again until you send it again or remove it"),
                   attempts);
            continue;
        }
        std::optional<mime::QueuedMessage> queued; // read once for all this run asks of it
        try {
            queued.emplace(message);
        } catch (const HostError &e) {
            // No mail message, and it will not become one by itself: set aside, told once.
            record(Outcome::Held, path, {}, QString::fromUtf8(e.what()), attempts);
            continue;
        }
        QStringList recipients;
        try {
            const QDateTime due = queued->deferredDelivery();
            if (due.isValid() && due > now) {
                record(Outcome::Waiting, path, {}, {});
                continue;
            }
            if (known && known->retryAt.isValid() && known->retryAt > now) {
                record(Outcome::WaitingToRetry, path, {}, {});
                continue;
            }
            mime::Outgoing out = queued->prepare(resolve);
            recipients = out.recipients;
            auto retryLater = [&](const QString &what) {
                record(Outcome::Failed, path, out.recipients, what, attempts + 1,
                       now.addSecs(DeliveryState::retryDelaySeconds(attempts + 1)));
            };
            if (out.recipients.isEmpty() && !out.badAddresses.isEmpty()) {
                record(Outcome::Held, path, {},
                       QStringLiteral("none of its recipients is an address a mail server takes: %1")
                           .arg(out.badAddresses.join(QLatin1String(", "))),
                       attempts);
                continue;
            }
            if (out.recipients.isEmpty()) {
                retryLater(out.unknownGroups.isEmpty()
                               ? QStringLiteral("the message has no recipient")
                               : QStringLiteral("no recipient: no distribution list is named %1")
                                     .arg(out.unknownGroups.join(QLatin1String(", "))));
                continue;
            }
            if (account && !account->mayStart()) {
                const QString why = account->stoppedBecause();
                if (why.isEmpty())
                    record(Outcome::Waiting, path, {}, {}); // its rate is spent: the next run goes on
                else                                        // the account stopped the run: every due message shows why
                    record(Outcome::Stopped, path, out.recipients, why, attempts);
                continue;
            }
            // It is dated when it is handed over (RFC 5322: when it enters
            // the delivery system), not when it was composed; one queued
            // before the sender was set goes with the sender set now.
            out.message = mime::withDate(out.message, now);
            if (out.sender.isEmpty() && !sender.address.isEmpty()) {
                out.message = mime::withSender(out.message, sender.header);
                out.sender = sender.address;
            }
            state.set(name, {DeliveryState::Stage::Sending, attempts, {}, {}});
            state.save(); // marked before it is handed over
            const Handover result = account ? account->send(out) : handOver(out);
            switch (result.kind) {
            case Handover::Kind::Unsendable:
            case Handover::Kind::Unknown:
                record(Outcome::Held, path, out.recipients, result.what, attempts);
                continue;
            case Handover::Kind::NotSent: // the account said why once; the next run tries again at once
                record(Outcome::Stopped, path, out.recipients, result.what, attempts);
                continue;
            case Handover::Kind::Retry:
                retryLater(result.what);
                continue;
            case Handover::Kind::Delivered:
                break;
            }
            // The hand-over time is kept: the Sent copy carries it as its Date,
            // the same however often the filing is tried.
            state.set(name, {DeliveryState::Stage::HandedOver, attempts, now, {}});
            state.save();
            QStringList notes;
            if (!result.what.isEmpty())
                notes.append(result.what);
            if (!out.badAddresses.isEmpty())
                notes.append(QStringLiteral("not sent to %1: no address a mail server takes")
                                 .arg(out.badAddresses.join(QLatin1String(", "))));
            if (!out.unknownGroups.isEmpty())
                notes.append(QStringLiteral("no distribution list is named %1")
                                 .arg(out.unknownGroups.join(QLatin1String(", "))));
            file(path, out.recipients, true, now, notes.join(QLatin1String("; ")));
        } catch (const HostError &e) {
            // Once marked for the hand-over it may have gone out: never tried again by itself.
            const DeliveryState::Entry *marked = state.find(name);
            if (marked && marked->stage == DeliveryState::Stage::HandedOver)
                record(Outcome::NotFiled, path, recipients,
                       QStringLiteral("was delivered, but %1; it will not be sent again").arg(e.what()));
            else if (marked && marked->stage == DeliveryState::Stage::Sending)
                record(Outcome::Held, path, recipients, QString::fromUtf8(e.what()), attempts);
            else
                record(Outcome::Failed, path, recipients, QString::fromUtf8(e.what()), attempts + 1,
                       now.addSecs(DeliveryState::retryDelaySeconds(attempts + 1)));
        }
    }
    try {
        state.save();
    } catch (const HostError &e) {
        report.errors.append(QString::fromUtf8(e.what()));
    }
    return report;
}

QList<OutboxEntry> Delivery::outbox() const
{
    DeliveryState state(stateFile());
    state.load();
    QList<OutboxEntry> out;
    for (const QString &path : Maildir(m_paths.outbox()).messages()) {
        OutboxEntry e;
        e.file = path;
        try {
            const mime::QueuedMessage head(messageHead(path));
            e.subject = head.header("Subject");
            QStringList to;
            // A list goes as an empty group ("Family: ;"): shown by its name
            // and how many it reaches.
            static const QRegularExpression group(QStringLiteral("^\\s*\"?([^\":;<>@]+?)\"?\\s*:\\s*;\\s*$"));
            for (const char *h : {"To", "Cc", "Bcc"}) {
                const QString v = head.header(h).simplified();
                if (v.isEmpty())
                    continue;
                if (const QRegularExpressionMatch m = group.match(v); m.hasMatch()) {
                    const qsizetype n = listMembers(m.captured(1).trimmed()).addresses.size();
                    to.append(n == 1   ? QStringLiteral("%1 (1 member)").arg(m.captured(1).trimmed())
                              : n == 0 ? QStringLiteral("%1 (no member known)").arg(m.captured(1).trimmed())
                                       : QStringLiteral("%1 (%2 members)").arg(m.captured(1).trimmed()).arg(n));
                } else {
                    to.append(v);
                }
            }
            e.recipients = to.join(QLatin1String(", "));
            e.due = head.deferredDelivery();
        } catch (const HostError &) {
            // unreadable: listed without its headers, and the delivery says why
        }
        if (const DeliveryState::Entry *known = state.find(Maildir::baseName(path))) {
            e.reason = known->reason;
            switch (known->stage) {
            case DeliveryState::Stage::Failed:
                e.status = OutboxEntry::Status::Failed;
                e.retryAt = known->retryAt;
                break;
            case DeliveryState::Stage::Sending:
            case DeliveryState::Stage::Held:
                e.status = OutboxEntry::Status::Held;
                break;
            case DeliveryState::Stage::HandedOver:
                e.status = OutboxEntry::Status::NotFiled;
                break;
            }
        }
        out.append(e);
    }
    return out;
}

QPair<int, int> Delivery::failedAndHeld() const
{
    DeliveryState state(stateFile());
    state.load();
    return {state.count(DeliveryState::Stage::Failed),
            state.count(DeliveryState::Stage::Held) + state.count(DeliveryState::Stage::Sending)};
}

void Delivery::retry(const QString &file) const
{
    const OutboxLock lock(m_paths.mail);
    DeliveryState state(stateFile());
    state.load();
    const QString name = Maildir::baseName(file);
    const DeliveryState::Entry *known = state.find(name);
    if (!known || known->stage == DeliveryState::Stage::HandedOver)
        return; // it simply waits, or is only to be filed in Sent
    if (known->stage == DeliveryState::Stage::Failed) {
        DeliveryState::Entry now = *known;
        now.retryAt = QDateTime(); // on the next run
        state.set(name, now);
    } else {
        state.remove(name); // released: sent like a new message
    }
    state.save();
}

void Delivery::remove(const QString &file) const
{
    const OutboxLock lock(m_paths.mail);
    DeliveryState state(stateFile());
    state.load();
    const QString name = Maildir::baseName(file);
    for (const QString &path : Maildir(m_paths.outbox()).messages()) {
        if (Maildir::baseName(path) == name) {
            removeFile(path);
            syncFolder(QFileInfo(path).absolutePath());
        }
    }
    state.remove(name);
    state.save();
}

} // namespace hostmail
