#include "hostmail/store/WriteBatch.h"
#include "hostmail/store/WriteBatchWorker.h"

#include "hostmail/HostError.h"

#include <QFile>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace hostmail {

namespace {

thread_local WriteBatch *t_batch = nullptr;

// How far the caller may run ahead of the worker.
constexpr size_t kQueuedFiles = 1024; // enough to go on composing while the worker commits
constexpr qint64 kQueuedBytes = 16 * 1024 * 1024;
// The worker is woken when this many files wait (or when they are wanted):
// one wake for a handful of small files, not one each.
constexpr size_t kWakeFiles = 16;
constexpr qint64 kWakeBytes = 1024 * 1024;
constexpr size_t kSyncfsFrom = 8;

} // namespace

WriteBatch::WriteBatch()
{
    if (t_batch) {
        m_outer = t_batch; // joins the batch alive on this thread
        return;
    }
    m_worker = std::make_unique<Worker>();
    t_batch = this;
}

WriteBatch::~WriteBatch()
{
    if (m_outer)
        return;
    // What is left is committed while this is still the thread's batch, with
    // its worker whole; what failed is only reported by flush().
    m_worker->commit();
    m_worker.reset();
    t_batch = nullptr;
}

WriteBatch::Worker &WriteBatch::worker() const
{
    return m_outer ? *m_outer->m_worker : *m_worker;
}

void WriteBatch::add(WriteJob job)
{
    worker().add(std::move(job));
}

bool WriteBatch::holds(const QByteArray &target) const
{
    return worker().holds(target);
}

void WriteBatch::commit()
{
    worker().commit();
}

void WriteBatch::flush()
{
    worker().flush();
}

WriteBatch::Worker::Worker()
{
    m_thread = std::thread([this] { work(); });
}

WriteBatch::Worker::~Worker()
{
    commit();
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_work.notify_all();
    m_thread.join();
}

WriteBatch *WriteBatch::current()
{
    return t_batch;
}

void WriteBatch::Worker::add(WriteJob job)
{
    std::unique_lock lock(m_mutex);
    m_space.wait(lock, [this] { return m_queue.size() < kQueuedFiles && m_queuedBytes < kQueuedBytes; });
    m_queuedBytes += job.data.size();
    m_queue.push_back(std::move(job));
    const bool wake = m_queue.size() >= kWakeFiles || m_queuedBytes >= kWakeBytes;
    lock.unlock();
    if (wake)
        m_work.notify_one();
}

bool WriteBatch::Worker::holds(const QByteArray &target) const
{
    const std::lock_guard lock(m_mutex);
    if (m_index.contains(target) || m_writing == target)
        return true;
    for (const WriteJob &job : m_queue) {
        if (job.target == target)
            return true;
    }
    for (const Pending &p : m_committing) {
        if (p.job.target == target)
            return true;
    }
    return false;
}

void WriteBatch::Worker::work()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_work.wait(lock, [this] {
            return m_stop || m_draining > 0 || m_queue.size() >= kWakeFiles || m_queuedBytes >= kWakeBytes;
        });
        if (m_queue.empty()) {
            if (m_stop)
                return;
            m_idle.notify_all();
            m_work.wait(lock, [this] { return m_stop || !m_queue.empty(); });
            continue;
        }
        WriteJob job = std::move(m_queue.front());
        m_queue.pop_front();
        m_queuedBytes -= job.data.size();
        m_busy = true;
        m_writing = job.target;
        lock.unlock();
        m_space.notify_one();
        const int fd = detail::writeTemp(job);
        lock.lock();
        m_writing.clear();
        if (fd < 0)
            fail(job.target, -fd);
        else
            keep(fd, std::move(job));
        if (static_cast<int>(m_pending.size()) >= kMaxFiles || m_pendingBytes >= kMaxBytes) {
            m_committing = takePending();
            const QSet<QByteArray> failedBefore = m_failedTargets;
            lock.unlock();
            const QList<QByteArray> failed = commitPending(m_committing, failedBefore);
            lock.lock();
            for (const QByteArray &target : failed)
                fail(target);
            m_committing.clear();
        }
        m_busy = false;
        if (m_queue.empty())
            m_idle.notify_all();
    }
}

void WriteBatch::Worker::keep(int fd, WriteJob job)
{
    const qint64 size = job.data.size();
    job.data = QByteArray(); // on disk now; only the names are needed
    m_pendingBytes += size;
    // A second write to the same target replaces the first, as its rename would;
    // what the file must still hold is what it held before the first.
    if (const auto it = m_index.constFind(job.target); it != m_index.cend()) {
        Pending &old = m_pending[*it];
        if (old.job.expected && job.expected)
            job.expected = old.job.expected;
        ::close(old.fd);
        ::unlink(old.job.temp.constData());
        m_pendingBytes -= old.size;
        old = {fd, std::move(job), size};
        return;
    }
    m_index.insert(job.target, m_pending.size());
    m_pending.push_back({fd, std::move(job), size});
}

std::vector<WriteBatch::Worker::Pending> WriteBatch::Worker::takePending()
{
    std::vector<Pending> pending;
    pending.swap(m_pending);
    m_index.clear();
    m_pendingBytes = 0;
    return pending;
}

void WriteBatch::Worker::commit()
{
    std::unique_lock lock(m_mutex);
    ++m_draining; // the worker takes what waits, however little
    m_work.notify_one();
    m_idle.wait(lock, [this] { return m_queue.empty() && !m_busy; });
    --m_draining;
    for (const QByteArray &target : commitPending(takePending(), m_failedTargets)) // the worker waits meanwhile
        fail(target);
}

void WriteBatch::Worker::fail(const QByteArray &target, int error)
{
    if (m_failed.isEmpty() || m_reason.isEmpty())
        m_reason = error > 0 ? QString::fromLocal8Bit(std::strerror(error))
                             : QStringLiteral("the file could not be flushed or put in place");
    m_failed.append(QFile::decodeName(target));
    m_failedTargets.insert(target);
}

void WriteBatch::Worker::flush()
{
    commit();
    QStringList failed;
    QString reason;
    {
        const std::lock_guard lock(m_mutex);
        failed.swap(m_failed);
        reason.swap(m_reason);
    }
    if (!failed.isEmpty())
        throw HostError(QStringLiteral("%1 file(s) could not be written (%2): %3")
                            .arg(failed.size())
                            .arg(reason, failed.join(QLatin1String(", "))),
                        failed, reason);
}

QList<QByteArray> WriteBatch::Worker::commitPending(const std::vector<Pending> &pending,
                                                    const QSet<QByteArray> &failedBefore)
{
    QList<QByteArray> lost;
    if (pending.empty())
        return lost;
    // One syncfs per file system, found from the folders the files are in;
    // where it fails, each file is flushed on its own so that only the files
    // that really failed are dropped. A few files are flushed on their own
    // anyway: syncfs would flush all of the system's other writes too.
    QHash<QByteArray, bool> folderSynced; // folder of the temporary files -> flushed by a syncfs
    if (pending.size() >= kSyncfsFrom) {
        QHash<dev_t, bool> devices;
        for (const Pending &p : pending) {
            const QByteArray folder = detail::folderOf(p.job.temp);
            if (folderSynced.contains(folder))
                continue;
            struct stat st {};
            if (::stat(folder.constData(), &st) != 0) {
                folderSynced.insert(folder, false);
                continue;
            }
            if (!devices.contains(st.st_dev))
                devices.insert(st.st_dev, ::syncfs(p.fd) == 0);
            folderSynced.insert(folder, devices.value(st.st_dev));
        }
    }
    QSet<QByteArray> folders;
    QSet<QByteArray> failed = failedBefore;
    for (const Pending &p : pending) {
        bool ok = !failed.contains(p.job.after) || p.job.after.isEmpty();
        if (ok && !folderSynced.value(detail::folderOf(p.job.temp)))
            ok = ::fsync(p.fd) == 0;
        if (ok && p.job.expected)
            ok = detail::takeTargetMode(p.job, p.fd) == 0;
        ok = ok && detail::renameIntoPlace(p.job) == 0;
        if (!ok)
            ::unlink(p.job.temp.constData());
        if (::close(p.fd) == 0 && ok) { // open, and so locked, until it has its name
            folders.insert(detail::folderOf(p.job.target));
        } else {
            lost.append(p.job.target);
            failed.insert(p.job.target);
        }
    }
    for (const QByteArray &folder : std::as_const(folders))
        detail::syncFolderPath(folder);
    return lost;
}

} // namespace hostmail
