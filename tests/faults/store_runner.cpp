// Runs one long command on a store, answering Yes to every question, so that
// a test can kill the process part way, or cut the power under it:
//   store_runner make ROOT N          an address book of N contacts
//   store_runner bulk|reminder|greeting ROOT
//   store_runner export ROOT TARGET
// Dates are fixed, so two runs on the same store write the same files.
#include "bench/generate_store.h"
#include "bulkmail/core/BulkRun.h"
#include "common/core/Prompter.h"
#include "export/core/ExportRun.h"
#include "greetings/core/GreetingRun.h"
#include "hostmail/model/Application.h"
#include "reminders/core/ReminderRun.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

namespace {

struct Yes : common::Prompter {
    bool askYesNo(const QString &, const QString &) override { return true; }
    void tell(const QString &, const QString &text, common::MessageIcon) override
    {
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    }
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
    const QString command = QString::fromLocal8Bit(argv[1]);
    const QString root = QString::fromLocal8Bit(argv[2]);
    if (command == QLatin1String("make") && argc == 4) {
        generateAddressBook(root + QLatin1String("/Contacts"), QString::fromLocal8Bit(argv[3]).toInt());
        return 0;
    }
    const hostmail::StorePaths paths = hostmail::StorePaths::underRoot(root);
    auto open = [&] { return std::make_unique<hostmail::Application>(paths); };
    Yes yes;
    std::puts("started");
    std::fflush(stdout);
    const QDate today(2026, 5, 1);
    if (command == QLatin1String("bulk")) {
        bulkmail::BulkSettings s;
        s.mode = bulkmail::RecipientMode::AllContacts;
        s.saveDraft = true;
        s.subject = QStringLiteral("News");
        bulkmail::BulkRun(open, yes).run(s, {QStringLiteral("<html><body><p>News</p></body></html>")}, today);
    } else if (command == QLatin1String("greeting")) {
        greetings::GreetingSettings s; // sent: into the Outbox
        s.sendBetweenDates = true;
        s.fromDate = today;
        s.toDate = today.addDays(60);
        const templates::TemplateDocument doc{QStringLiteral("<html><body><p>Dear [Name]</p></body></html>")};
        greetings::GreetingRun(open, yes, {}).run(s, doc, doc, today);
    } else if (command == QLatin1String("reminder")) {
        QDir::setCurrent(root);
        reminders::ReminderRun(open, yes).run([] { return QDateTime(QDate(2026, 12, 8), QTime(9, 0)); });
    } else if (command == QLatin1String("export") && argc == 4) {
        exporting::ExportRun(open, yes, {}).run({QString::fromLocal8Bit(argv[3]), true, true, true});
    } else {
        return 2;
    }
    return 0;
}
