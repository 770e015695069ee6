// cheerpost-deliver: hands every due message of the Outbox to the mail
// account of host.conf, or to the delivery command, and files it in Sent. Run by the systemd user timer, and started
// by Cheerpost after a command sent mail. Prints a summary; exits 1 when a
// message failed or is held (the failures are in delivery.log beside the
// Maildirs), and tells what went wrong for the first time in a desktop notice.
#include "hostmail/HostError.h"
#include "hostmail/carddav/AddressBookSync.h"
#include "hostmail/delivery/Delivery.h"
#include "hostmail/delivery/DesktopNotice.h"
#include "hostmail/smtp/SmtpSession.h"
#include "hostmail/store/AtomicFile.h"
#include "hostmail/store/Maildir.h"
#include "hostmail/store/StorePaths.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QTextStream>

namespace {

// On the timer a failed sync is never a prompt, but the user hears of it: in
// a desktop notice, once for each new reason, until a sync completes again.
void tellSyncOnce(const hostmail::StorePaths &paths, const hostmail::carddav::SyncReport &synced)
{
    const QString told = paths.state + QLatin1String("/carddav-failure-told");
    try {
        if (synced.completed) {
            hostmail::removeFile(told);
            return;
        }
        QByteArray last;
        try {
            last = hostmail::readWholeFile(told, 64 * 1024);
        } catch (const hostmail::HostError &) {
            // none yet: not told
        }
        if (last == synced.failure.toUtf8())
            return;
        hostmail::showDesktopNotice(QStringLiteral("Cheerpost could not sync the contacts"), synced.failure);
        hostmail::makeFolder(paths.state);
        hostmail::writeFileAtomically(told, synced.failure.toUtf8());
    } catch (const hostmail::HostError &) {
        // the state folder cannot be written: told again next time, never lost
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("cheerpost-deliver"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CHEERPOST_VERSION));
    QCommandLineParser options;
    options.setApplicationDescription(
        QStringLiteral("Delivers the due messages of Cheerpost's Outbox. Without options, the store and the "
                       "delivery command are those of host.conf."));
    options.addHelpOption();
    options.addVersionOption();
    const QCommandLineOption mail(QStringLiteral("mail"), QStringLiteral("The folder of the Maildirs."),
                                  QStringLiteral("folder"));
    const QCommandLineOption contacts(QStringLiteral("contacts"),
                                      QStringLiteral("The contacts folder, for distribution lists."),
                                      QStringLiteral("folder"));
    const QCommandLineOption command(QStringLiteral("command"), QStringLiteral("The delivery command."),
                                     QStringLiteral("command"));
    const QCommandLineOption timeout(QStringLiteral("timeout"),
                                     QStringLiteral("Seconds the delivery command may take (1 to 3600)."),
                                     QStringLiteral("seconds"));
    const QCommandLineOption throttle(QStringLiteral("rate-wait"),
                                      QStringLiteral("Seconds a run may wait for the mail account's rate limit "
                                                     "before it leaves the rest to the next run (default 600)."),
                                      QStringLiteral("seconds"));
    const QCommandLineOption sync(QStringLiteral("sync"),
                                  QStringLiteral("Syncs the contacts with the address book server and exits."));
    options.addOptions({mail, contacts, command, timeout, throttle, sync});
    options.process(app);

    hostmail::StorePaths paths = hostmail::StorePaths::fromConfiguration();
    if (options.isSet(mail))
        paths.mail = options.value(mail);
    if (options.isSet(contacts))
        paths.contacts = options.value(contacts);
    if (options.isSet(command))
        paths.deliveryCommand = options.value(command);
    if (options.isSet(timeout))
        paths.deliveryTimeoutSeconds = qBound(hostmail::StorePaths::kMinTimeoutSeconds, options.value(timeout).toInt(),
                                              hostmail::StorePaths::kMaxTimeoutSeconds);

    QTextStream err(stderr);
    // Started by a timer or by a run, nobody may be there to answer a prompt:
    // a locked keyring is a reason to wait, not a dialog.
    if (!options.isSet(sync))
        hostmail::smtp::setKeyringLockedCheck(hostmail::desktopKeyringLocked);
    if (options.isSet(sync) || paths.cardDav.enabled()) {
        // The contacts first: lists are expanded from them.
        hostmail::carddav::AddressBookSync addressBook(paths);
        // Before a delivery the sync has the time of one hand-over, no more:
        // a slow address book never holds up the mail.
        if (!options.isSet(sync))
            addressBook.limits.seconds = paths.deliveryTimeoutSeconds;
        const hostmail::carddav::SyncReport synced = addressBook.run();
        QTextStream out(stdout);
        if (synced.completed || options.isSet(sync))
            out << synced.summary() << '\n';
        for (const QString &s : synced.skipped)
            out << "  skipped " << s << '\n';
        out.flush();
        if (!synced.completed)
            err << "cheerpost-deliver: the address book was not synced: " << synced.failure << '\n';
        if (options.isSet(sync))
            return synced.completed ? 0 : 1;
        tellSyncOnce(paths, synced);
    }
    const QDateTime now = QDateTime::currentDateTime();
    for (const QString &folder : {paths.drafts(), paths.outbox(), paths.sent()})
        hostmail::Maildir(folder).removeStaleTemporaries(now);
    hostmail::DeliveryReport report;
    try {
        hostmail::Delivery delivery(paths);
        if (options.isSet(throttle))
            delivery.throttleBudgetSeconds = qBound(0, options.value(throttle).toInt(), 3600);
        report = delivery.deliverDue(now);
    } catch (const std::exception &e) {
        err << "cheerpost-deliver: " << e.what() << '\n';
        hostmail::showDesktopNotice(QStringLiteral("Cheerpost cannot deliver mail"), QString::fromUtf8(e.what()));
        return 1;
    }
    for (const QString &e : std::as_const(report.errors))
        err << e << '\n';
    QTextStream out(stdout);
    out << report.summary() << '\n';
    out.flush();
    const bool trouble = report.stopped || report.trouble;
    if (trouble)
        err << "See " << paths.deliveryLog() << '\n';
    if (!report.news.isEmpty()) {
        QStringList lines = report.news.mid(0, 5);
        if (report.news.size() > 5)
            lines.append(QStringLiteral("and %1 more").arg(report.news.size() - 5));
        lines.append(QStringLiteral("File > Outbox in Cheerpost shows them, with Send Now."));
        hostmail::showDesktopNotice(
            report.news.size() == 1
                ? QStringLiteral("Cheerpost: a message was not delivered")
                : QStringLiteral("Cheerpost: %1 messages were not delivered").arg(report.news.size()),
            lines.join(QLatin1Char('\n')));
    }
    return trouble ? 1 : 0;
}
