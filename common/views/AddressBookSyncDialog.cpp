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
std::optional<hostmail::carddav::SyncReport> syncWithProgress(QWidget *parent,
                                                              const hostmail::ApplicationFactory &openHost)
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

} // namespace

bool syncContactsBeforeRun(QWidget *parent, const hostmail::ApplicationFactory &openHost, Prompter &prompter)
{
    const auto report = syncWithProgress(parent, openHost);
    if (!report || report->completed)
        return true;
    return prompter.askYesNo(kAppTitle,
                             QStringLiteral("The contacts could not be synced with the address book server: %1.\rGo "
                                            "on with the contacts already here?")
                                 .arg(report->failure));
}

void syncContactsAfterRun(QWidget *parent, const hostmail::ApplicationFactory &openHost, Prompter &prompter)
{
    const auto report = syncWithProgress(parent, openHost);
    if (report && !report->completed)
        prompter.tell(kAppTitle,
                      QStringLiteral("The contacts written could not be sent to the address book server yet: %1.\rThey "
                                     "go at the next sync.")
                          .arg(report->failure),
                      MessageIcon::Exclamation);
}

} // namespace common
