#pragma once

#include "hostmail/store/AtomicFile.h"

#include <QHash>
#include <QSet>
#include <QStringList>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace hostmail {

// Groups the durable writes of a long run. While a batch is alive on a thread,
// writeFileAtomically and writeFileThrough hand their files to it and return:
// a worker thread writes the temporary files while the caller composes the
// next one. A commit flushes each file system once (syncfs), renames every
// file into place and flushes each folder once. Readers still see the old file
// or the whole new one, and a process killed meanwhile leaves only temporary
// files. The batch commits by itself every kMaxFiles files or kMaxBytes bytes,
// and before a waiting path is read or removed; a second write to a waiting
// path replaces the first. A batch made while another is alive joins it.
// A write that fails in a batch does not throw at the call: flush() reports
// it, as writeFileAtomically does without a batch.
class WriteBatch {
public:
    static constexpr int kMaxFiles = 256;
    static constexpr qint64 kMaxBytes = 32 * 1024 * 1024;

    WriteBatch();
    ~WriteBatch(); // commits what is left
    WriteBatch(const WriteBatch &) = delete;
    WriteBatch &operator=(const WriteBatch &) = delete;

    // The batch of this thread, or null.
    static WriteBatch *current();
    void add(WriteJob job);
    bool holds(const QByteArray &target) const;
    // Writes and commits all that waits. A file that cannot be written is
    // left out (its temporary removed) and kept for the next flush().
    void commit();
    // commit(), then reports every file of the batch that did not reach the
    // disk since the last flush: throws HostError naming them. The run that
    // made the batch decides what a failed file means.
    void flush();

private:
    struct Pending {
        int fd;
        WriteJob job; // data already written and dropped
        qint64 size;
    };
    void work();
    void keep(int fd, WriteJob job);                    // under m_mutex
    std::vector<Pending> takePending();                 // under m_mutex
    void fail(const QByteArray &target, int error = 0); // under m_mutex
    // Flushes, checks, renames and closes; returns the targets that failed.
    // A job whose "after" target is in failedBefore, or failed here, fails too.
    static QList<QByteArray> commitPending(const std::vector<Pending> &pending, const QSet<QByteArray> &failedBefore);

    WriteBatch *m_outer = nullptr;
    mutable std::mutex m_mutex;
    std::condition_variable m_work;  // the worker waits for files
    std::condition_variable m_space; // the caller waits for room in the queue
    std::condition_variable m_idle;  // commit() waits for the worker to finish
    int m_draining = 0;              // callers of commit() waiting
    std::deque<WriteJob> m_queue;
    qint64 m_queuedBytes = 0;
    bool m_busy = false;  // the worker is writing or committing
    QByteArray m_writing; // the target the worker is writing now
    bool m_stop = false;
    std::vector<Pending> m_pending;
    QHash<QByteArray, size_t> m_index; // target -> position in m_pending
    qint64 m_pendingBytes = 0;
    std::vector<Pending> m_committing; // read only while the worker commits
    QStringList m_failed;              // not yet reported by flush()
    QString m_reason;                  // why the first of them failed
    QSet<QByteArray> m_failedTargets;  // every target that failed in this batch
    std::thread m_worker;
};

} // namespace hostmail
