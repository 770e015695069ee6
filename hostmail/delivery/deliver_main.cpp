// cheerpost-deliver: hands every due message of the Outbox to the delivery
// command and files it in Sent. Run by the systemd user timer, and started
// by Cheerpost after a command sent mail. Prints a summary; exits 1 when a
// delivery failed (the failures are in delivery.log beside the Maildirs).
#include "hostmail/delivery/Delivery.h"
#include "hostmail/store/Maildir.h"
#include "hostmail/store/StorePaths.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QTextStream>

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
    options.addOptions({mail, contacts, command, timeout});
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

    const QDateTime now = QDateTime::currentDateTime();
    for (const QString &folder : {paths.drafts(), paths.outbox(), paths.sent()})
        hostmail::Maildir(folder).removeStaleTemporaries(now);
    QTextStream err(stderr);
    hostmail::DeliveryReport report;
    try {
        report = hostmail::Delivery(paths).deliverDue(now);
    } catch (const std::exception &e) {
        err << "cheerpost-deliver: " << e.what() << '\n';
        return 1;
    }
    for (const QString &e : report.errors)
        err << e << '\n';
    QTextStream out(stdout);
    out << report.delivered << " delivered, " << report.failed << " failed, " << report.waiting << " waiting";
    if (report.keptAside > 0)
        out << ", " << report.keptAside << " delivered but not filed in Sent";
    out << '\n';
    if (report.failed > 0 || report.keptAside > 0)
        err << "See " << paths.deliveryLog() << '\n';
    return report.failed > 0 || report.keptAside > 0 ? 1 : 0;
}
