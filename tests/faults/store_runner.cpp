// Runs one long command on a store, answering Yes to every question, so that
// a test can kill the process part way: store_runner bulk|reminder ROOT
#include "bulkmail/core/BulkRun.h"
#include "common/core/Prompter.h"
#include "hostmail/model/Application.h"
#include "reminders/core/ReminderRun.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

namespace {

struct Yes : common::Prompter {
    bool askYesNo(const QString &, const QString &) override { return true; }
    void tell(const QString &, const QString &, common::MessageIcon) override {}
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3)
        return 2;
    const QString command = QString::fromLocal8Bit(argv[1]);
    const hostmail::StorePaths paths = hostmail::StorePaths::underRoot(QString::fromLocal8Bit(argv[2]));
    auto open = [&] { return std::make_unique<hostmail::Application>(paths); };
    Yes yes;
    std::puts("started");
    std::fflush(stdout);
    if (command == QLatin1String("bulk")) {
        bulkmail::BulkSettings s;
        s.mode = bulkmail::RecipientMode::AllContacts;
        s.saveDraft = true;
        s.subject = QStringLiteral("News");
        bulkmail::BulkRun(open, yes).run(s, {QStringLiteral("<html><body><p>News</p></body></html>"), {}},
                                         QDate::currentDate());
    } else if (command == QLatin1String("reminder")) {
        QDir::setCurrent(QString::fromLocal8Bit(argv[2]));
        reminders::ReminderRun(open, yes).run([] { return QDateTime::currentDateTime(); });
    } else {
        return 2;
    }
    return 0;
}
