// cheerpost-deliver: hands every due message of the Outbox to the delivery
// command and moves it to Sent. Meant for a systemd user timer or cron.
#include "hostmail/delivery/Delivery.h"
#include "hostmail/store/Maildir.h"
#include "hostmail/store/StorePaths.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("cheerpost-deliver"));
    const hostmail::StorePaths paths = hostmail::StorePaths::fromConfiguration();
    const QDateTime now = QDateTime::currentDateTime();
    for (const QString &folder : {paths.drafts(), paths.outbox(), paths.sent()})
        hostmail::Maildir(folder).removeStaleTemporaries(now);
    const hostmail::Delivery delivery(paths);
    const hostmail::DeliveryReport report = delivery.deliverDue(now);
    QTextStream err(stderr);
    for (const QString &e : report.errors)
        err << e << '\n';
    QTextStream(stdout) << report.delivered << " delivered, " << report.failed << " failed, " << report.waiting
                        << " waiting\n";
    return report.failed > 0 ? 1 : 0;
}
