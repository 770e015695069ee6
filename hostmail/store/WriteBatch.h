#pragma once

#include "hostmail/store/AtomicFile.h"

#include <QStringList>

#include <memory>

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
    struct Worker; // the queue and its thread: WriteBatchWorker.h, private to the store
    // The worker of the batch this one is or joined.
    Worker &worker() const;
    WriteBatch *m_outer = nullptr; // the thread's batch, which has no outer one
    std::unique_ptr<Worker> m_worker;
};

} // namespace hostmail
