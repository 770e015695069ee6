#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <vector>

namespace hostmail {

// Replaces the file at path with data: the bytes go to a temporary file in the
// same folder, are flushed to disk, and only then renamed over the target, so
// a reader sees either the old file or the new one, never a part. An existing
// file keeps its permission bits. Throws HostError on any failure, leaving the
// old file as it was. Inside a WriteBatch the flush and rename wait for the
// batch's commit.
void writeFileAtomically(const QString &path, const QByteArray &data);

// Writes data to temp (a new file, mode 0600) and moves it to target once it is
// on disk; for Maildir, whose rename from tmp/ into new/ or cur/ is the atomic
// step. A failure removes temp and throws HostError.
void writeFileThrough(const QString &temp, const QString &target, const QByteArray &data);

// Removes a file; one that does not exist is not an error. Throws HostError.
void removeFile(const QString &path);

// Flushes a folder's entries (a rename into it) to disk.
void syncFolder(const QString &folder);

// Reads a whole file; throws HostError when it cannot be read. A file still
// waiting in the current WriteBatch is committed first.
QByteArray readWholeFile(const QString &path);
// The same for a path relative to an open folder (AT_FDCWD: the current one),
// which spares the walk of the whole path for every file of a large folder.
// A file waiting in a batch is only seen when the path is absolute.
QByteArray readWholeFileAt(int folderFd, const QString &path);

// Groups many durable writes into a few flushes. While a batch is alive on a
// thread, the writes above only fill their temporary files. A commit flushes
// each file system once (syncfs), renames every file into place and flushes
// each folder once. Readers still see the old file or the whole new one, and a
// process killed meanwhile leaves only temporary files. The batch commits by
// itself every kMaxFiles files or kMaxBytes bytes, and before a waiting path
// is read or removed; a second write to a waiting path replaces the first. A
// batch made while another is alive joins it.
class WriteBatch {
public:
    static constexpr int kMaxFiles = 256;
    static constexpr qint64 kMaxBytes = 32 * 1024 * 1024;

    WriteBatch();
    ~WriteBatch();
    WriteBatch(const WriteBatch &) = delete;
    WriteBatch &operator=(const WriteBatch &) = delete;

    // Commits what waits; throws HostError when any file of this batch, in
    // this commit or an earlier automatic one, could not be written.
    void commit();
    // The targets that could not be written; their temporary files are gone.
    const QStringList &lost() const;

    struct Pending {
        int fd;
        QByteArray temp;
        QByteArray target;
        qint64 size;
    };
    // The batch of this thread, or null.
    static WriteBatch *current();
    void add(Pending pending);
    bool holds(const QByteArray &target) const;
    void flush(); // commits without throwing; failures go to lost()

private:
    WriteBatch *m_outer = nullptr;
    std::vector<Pending> m_pending;
    QHash<QByteArray, int> m_index; // target -> position in m_pending
    qint64 m_bytes = 0;
    QStringList m_lost;
};

} // namespace hostmail
