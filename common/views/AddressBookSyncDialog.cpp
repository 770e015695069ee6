#include "common/views/AddressBookSyncDialog.h"

#include "common/core/Prompter.h"
#include "hostmail/HostError.h"
#include "hostmail/carddav/AddressBookSync.h"
#include "hostmail/model/Application.h"

#include <QEventLoop>
#include <QFutureWatcher>
#include <QProgressDialog>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <atomic>
#include <optional>

namespace common {

namespace {

// Syncs with progress and Cancel, off the window's thread; nothing when no
// address book server is set.
std::optional<hostmail::carddav::SyncReport>
syncWithProgress(QWidget *parent, const hostmail::ApplicationFactory &openHost, bool mayDeleteMost = false)
{
    hostmail::StorePaths paths;
    try {
        paths = openHost()->paths();
    } catch (const hostmail::HostError &) {
        return std::nullopt; // the run itself says why the store cannot be opened
    }
    if (!paths.cardDav.enabled())
        return std::nullopt;
    QProgressDialog dialog(QStringLiteral("Syncing the contacts with the address book server…"),
                           QStringLiteral("Cancel"), 0, 0, parent);
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinimumDuration(500);
    std::atomic<bool> cancelled{false};
    std::atomic<int> done{0}, total{0};
    QFutureWatcher<hostmail::carddav::SyncReport> watcher;
    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcher<hostmail::carddav::SyncReport>::finished, &loop, &QEventLoop::quit);
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &dialog, [&] {
        dialog.setMaximum(total);
        dialog.setValue(done);
        if (dialog.wasCanceled())
            cancelled = true;
    });
    tick.start(100);
    watcher.setFuture(QtConcurrent::run([&] {
        hostmail::carddav::AddressBookSync sync(paths);
        sync.limits.cancelled = &cancelled; // a request under way ends at once too
        sync.limits.mayDeleteMost = mayDeleteMost;
        return sync.run([&](int d, int t) {
            done = d;
            total = t;
            return !cancelled;
        });
    }));
    loop.exec();
    tick.stop();
    dialog.reset();
    return watcher.result();
}

// What the sync stopped to ask, asked: another site the server sends the
// login to, and deletions of most contacts here. A Yes syncs again with
// that allowed; the report of the last sync is returned.
std::optional<hostmail::carddav::SyncReport> syncAsking(QWidget *parent, const hostmail::ApplicationFactory &openHost,
                                                        Prompter &prompter)
{
    auto report = syncWithProgress(parent, openHost);
    if (report && !report->completed && !report->otherSite.isEmpty() &&
        prompter.askYesNo(kAppTitle, QStringLiteral("The address book server sends the sync on to another site, %1. "
                                                    "Your user name and password would go there.\rLet them go to %1?")
                                         .arg(report->otherSite)) &&
        hostmail::StorePaths::allowAddressBookSite(report->otherSite))
        report = syncWithProgress(parent, openHost);
    if (report && !report->completed && report->withheldDeletions > 0) {
        if (!prompter.askYesNo(kAppTitle, QStringLiteral("The address book on the server no longer has %1 of the "
                                                         "contacts here; none was deleted yet.\rDelete them here "
                                                         "as well?")
                                              .arg(report->withheldDeletions)))
            return std::nullopt; // kept here, as the user chose: the run goes on with them
        report = syncWithProgress(parent, openHost, true);
    }
    return report;
}

} // namespace

bool syncContactsBeforeRun(QWidget *parent, const hostmail::ApplicationFactory &openHost, Prompter &prompter)
{
    const auto report = syncAsking(parent, openHost, prompter);
    if (!report || report->completed)
        return true;
    return prompter.askYesNo(kAppTitle,
                             QStringLiteral("The contacts could not be synced with the address book server: %1.\rGo "
                                            "on with the contacts already here?")
                                 .arg(report->failure));
}

void syncContactsAfterRun(QWidget *parent, const hostmail::ApplicationFactory &openHost, Prompter &prompter)
{
    // The changes went up before the deletions were weighed: deletions the
    // user kept before the run are not asked about again.
    const auto report = syncWithProgress(parent, openHost);
    if (report && !report->completed && report->withheldDeletions == 0)
        prompter.tell(kAppTitle,
                      QStringLiteral("The contacts written could not be sent to the address book server yet: %1.\rThey "
                                     "go at the next sync.")
                          .arg(report->failure),
                      MessageIcon::Exclamation);
}

} // namespace common
