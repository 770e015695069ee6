#pragma once

// Private to the store library: the queue of a write batch and the thread
// that writes and commits it. Only WriteBatch.cpp includes this.

#include "hostmail/store/WriteBatch.h"

#include <QHash>
#include <QSet>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace hostmail {

struct WriteBatch::Worker {
    Worker();
    ~Worker(); // commits what is left, then ends the thread
    void add(WriteJob job);
    bool holds(const QByteArray &target) const;
    void commit();
    void flush();

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
    std::thread m_thread;
};

} // namespace hostmail
