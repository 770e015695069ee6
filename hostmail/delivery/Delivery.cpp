#include "hostmail/delivery/Delivery.h"

#include "hostmail/HostError.h"
#include "hostmail/mime/MimeMessage.h"
#include "hostmail/model/ContactItem.h"
#include "hostmail/model/DistListItem.h"
#include "hostmail/model/Folder.h"
#include "hostmail/model/HostEnums.h"
#include "hostmail/store/AtomicFile.h"
#include "hostmail/store/Maildir.h"

#include <QProcess>

#include <csignal>
#include <unistd.h>

namespace hostmail {

QStringList Delivery::listMembers(const QString &name) const
{
    if (!m_lists) {
        m_lists.emplace();
        QHash<QString, QString> emailByUid;
        QList<const DistListItem *> lists;
        const Items items = Folder(olFolderContacts, m_paths).items();
        for (const auto &item : items) {
            if (auto *c = dynamic_cast<const ContactItem *>(item.get()); c && !c->uid().isEmpty())
                emailByUid.insert(c->uid(), c->Email1Address());
            else if (auto *l = dynamic_cast<const DistListItem *>(item.get()))
                lists.append(l);
        }
        for (const DistListItem *l : lists) {
            QStringList addresses;
            for (const QString &m : l->members()) {
                QString a;
                if (m.startsWith(QLatin1String("urn:uuid:"), Qt::CaseInsensitive))
                    a = emailByUid.value(m.mid(9), emailByUid.value(m));
                else if (m.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive))
                    a = m.mid(7);
                else
                    a = emailByUid.value(m, m.contains(QLatin1Char('@')) ? m : QString());
                if (!a.isEmpty())
                    addresses.append(a);
            }
            m_lists->insert(l->DLName().toCaseFolded(), addresses);
        }
    }
    return m_lists->value(name.toCaseFolded());
}

void Delivery::pipeToCommand(const QByteArray &message) const
{
    QStringList args = QProcess::splitCommand(m_paths.deliveryCommand);
    if (args.isEmpty())
        throw HostError(QStringLiteral("No delivery command is set"));
    const QString program = args.takeFirst();
    QProcess process;
    // Its own process group, so that a timeout ends the command and its children.
    process.setChildProcessModifier([] { ::setpgid(0, 0); });
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, args);
    if (!process.waitForStarted(10000))
        throw HostError(QStringLiteral("Cannot start %1: %2").arg(program, process.errorString()));
    process.write(message);
    process.closeWriteChannel();
    if (!process.waitForFinished(m_paths.deliveryTimeoutSeconds * 1000)) {
        ::kill(-static_cast<pid_t>(process.processId()), SIGKILL);
        process.waitForFinished(2000);
        throw HostError(
            QStringLiteral("%1 did not finish within %2 s").arg(program).arg(m_paths.deliveryTimeoutSeconds));
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw HostError(QStringLiteral("%1 failed with exit code %2").arg(program).arg(process.exitCode()));
}

QString Delivery::deliver(const QString &outboxFile) const
{
    const QByteArray message = readWholeFile(outboxFile);
    pipeToCommand(mime::expandGroups(message, [this](const QString &name) { return listMembers(name); }));
    return Maildir(m_paths.sent()).moveIn(outboxFile, QStringLiteral("S"));
}

DeliveryReport Delivery::deliverDue(const QDateTime &now) const
{
    DeliveryReport report;
    for (const QString &file : Maildir(m_paths.outbox()).messages()) {
        try {
            const QDateTime due = mime::deferredDelivery(readWholeFile(file));
            if (due.isValid() && due > now) {
                ++report.waiting;
                continue;
            }
            deliver(file);
            ++report.delivered;
        } catch (const HostError &e) {
            ++report.failed;
            report.errors.append(QString::fromUtf8(e.what()));
        }
    }
    return report;
}

} // namespace hostmail
