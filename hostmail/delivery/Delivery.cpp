#include "hostmail/delivery/Delivery.h"

#include "hostmail/HostError.h"
#include "hostmail/delivery/CommandRunner.h"
#include "hostmail/delivery/DeliveryState.h"
#include "hostmail/model/DistributionLists.h"
#include "hostmail/model/Folder.h"
#include "hostmail/model/HostEnums.h"
#include "hostmail/store/AtomicFile.h"
#include "hostmail/store/Limits.h"
#include "hostmail/store/Maildir.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace hostmail {

namespace {

// Holds the Outbox for one delivery run: an exclusive lock on a file beside
// the Maildirs, released when the process ends, however it ends.
class OutboxLock {
public:
    explicit OutboxLock(const QString &mail)
    {
        const QByteArray path = QFile::encodeName(mail + QLatin1String("/.cheerpost-delivery.lock"));
        m_fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd < 0)
            throw HostError(QStringLiteral("Cannot lock the Outbox in %1").arg(mail));
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

} // namespace

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
    QFile out(m_paths.deliveryLog());
    if (!out.open(QIODevice::Append | QIODevice::Text))
        return;
    QString entry =
        QStringLiteral("%1 %2\n  to: %3\n  %4\n")
            .arg(now.toString(Qt::ISODate), file,
                 recipients.isEmpty() ? QStringLiteral("(no recipient)") : recipients.join(QLatin1String(", ")),
                 what.trimmed().replace(QLatin1Char('\n'), QLatin1String("\n  ")));
    out.write(entry.toUtf8());
}

DeliveryReport Delivery::deliverDue(const QDateTime &now) const
{
    DeliveryReport report;
    const Maildir outbox(m_paths.outbox());
    const Maildir sent(m_paths.sent());
    outbox.create();
    const OutboxLock lock(m_paths.mail);
    DeliveryState state(m_paths.mail + QLatin1String("/.cheerpost-delivery-state"));
    try {
        state.load();
    } catch (const HostError &e) {
        report.errors.append(QString::fromUtf8(e.what()));
    }
    const QStringList files = outbox.messages();
    QSet<QString> names;
    for (const QString &f : files)
        names.insert(Maildir::baseName(f));
    state.keepOnly(names);

    auto fail = [&](const QString &file, const QStringList &to, const QString &what) {
        ++report.failed;
        report.errors.append(
            QStringLiteral("%1: %2").arg(QFileInfo(file).fileName(), what.section(QLatin1Char('\n'), 0, 0)));
        log(now, file, to, what);
    };
    // Files the message in Sent; where that cannot be done it stays aside,
    // marked as handed over, and is never handed over again. The failure is
    // logged when it first happens; later runs try to file it again.
    auto file = [&](const QString &path, const QStringList &to, bool first) {
        try {
            sent.moveIn(path, QStringLiteral("S"));
            state.remove(Maildir::baseName(path));
            return true;
        } catch (const HostError &e) {
            ++report.keptAside;
            if (!first)
                return false;
            const QString what = QStringLiteral("was delivered but cannot be filed in Sent (%1); it stays in the "
                                                "Outbox and will not be sent again")
                                     .arg(QString::fromUtf8(e.what()));
            report.errors.append(QStringLiteral("%1: %2").arg(QFileInfo(path).fileName(), what));
            log(now, path, to, what);
            return false;
        }
    };

    for (const QString &path : files) {
        const QString name = Maildir::baseName(path);
        const DeliveryState::Entry *known = state.find(name);
        if (known && known->stage != DeliveryState::Stage::Failed) {
            // Handed over before, or interrupted while being handed over:
            // either way it may have gone out, so it is never handed over again.
            const bool interrupted = known->stage == DeliveryState::Stage::Sending;
            if (interrupted) {
                state.set(name, {DeliveryState::Stage::HandedOver, known->attempts, {}});
                log(now, path, {},
                    QStringLiteral("an earlier delivery stopped while handing this message over; it "
                                   "may not have gone out, and it is not sent again"));
            }
            file(path, {}, interrupted);
            continue;
        }
        try {
            const QByteArray message = readWholeFile(path, kMaxMessageBytes);
            const QDateTime due = mime::deferredDelivery(message);
            if ((due.isValid() && due > now) || (known && known->retryAt > now)) {
                ++report.waiting;
                continue;
            }
            const int attempts = known ? known->attempts : 0;
            const mime::Outgoing out =
                mime::prepareForDelivery(message, [this](const QString &list) { return listMembers(list); });
            auto retryLater = [&](const QString &what) {
                state.set(name, {DeliveryState::Stage::Failed, attempts + 1,
                                 now.addSecs(DeliveryState::retryDelaySeconds(attempts + 1))});
                state.save();
                fail(path, out.recipients, what);
            };
            if (out.recipients.isEmpty()) {
                retryLater(out.unknownGroups.isEmpty()
                               ? QStringLiteral("the message has no recipient")
                               : QStringLiteral("no recipient: no distribution list is named %1")
                                     .arg(out.unknownGroups.join(QLatin1String(", "))));
                continue;
            }
            state.set(name, {DeliveryState::Stage::Sending, attempts, {}});
            state.save(); // marked before it is handed over
            const CommandResult result = runWithInput(QProcess::splitCommand(m_paths.deliveryCommand), out.message,
                                                      m_paths.deliveryTimeoutSeconds);
            if (!result.succeeded()) {
                QString what = QStringLiteral("%1 %2").arg(m_paths.deliveryCommand, result.describe());
                if (!result.errorTail.isEmpty())
                    what += QLatin1Char('\n') + QString::fromLocal8Bit(result.errorTail);
                retryLater(what);
                continue;
            }
            state.set(name, {DeliveryState::Stage::HandedOver, attempts, {}});
            state.save();
            if (file(path, out.recipients, true))
                ++report.delivered;
            if (!out.unknownGroups.isEmpty())
                log(now, path, out.recipients,
                    QStringLiteral("delivered; no distribution list is named %1")
                        .arg(out.unknownGroups.join(QLatin1String(", "))));
        } catch (const HostError &e) {
            fail(path, {}, QString::fromUtf8(e.what()));
        }
    }
    try {
        state.save();
    } catch (const HostError &e) {
        report.errors.append(QString::fromUtf8(e.what()));
    }
    return report;
}

} // namespace hostmail
