#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace hostmail {

// Replaces the file at path with data: the bytes go to a temporary file in the
// same folder, are flushed to disk, and only then renamed over the target, so
// a reader sees either the old file or the new one, never a part. The file
// gets the user's default permissions. Throws HostError on any failure,
// leaving the old file as it was. Inside a WriteBatch the work is handed to
// the batch, and its flush() reports a failure instead. With after, the path
// of an earlier write of the same batch: when that one fails, so does this.
void writeFileAtomically(const QString &path, const QByteArray &data, const QString &after = QString());

// The same for a file that another program may change meanwhile (a contact
// file a sync tool keeps): the file is replaced only while it still holds
// exactly expected, checked right before the rename (inside a batch, at its
// commit); otherwise HostError, and the other program's version stays. The
// new file keeps the old one's permission bits, and a symbolic link at path
// is written through to its target, so the link stays.
void replaceFileIfUnchanged(const QString &path, const QByteArray &expected, const QByteArray &data);

// Writes data to temp (a new file, mode 0600) and moves it to target once it is
// on disk; for Maildir, whose rename from tmp/ into new/ or cur/ is the atomic
// step. Missing folders of both are made, and then all three folders of the
// Maildir at maildir, so that every reader can open it. A failure removes
// temp and throws HostError; inside a WriteBatch as above.
void writeFileThrough(const QString &temp, const QString &target, const QByteArray &data,
                      const QString &maildir = QString());

// Makes a folder and its missing parents (mode 0700: the store is private),
// each flushed into its parent's entries, so that a power cut cannot take
// back a folder and the files written into it. Throws HostError.
void makeFolder(const QString &folder);

// Flushes a folder's entries (a rename or removal in it) to disk.
void syncFolder(const QString &folder);

// Removes a file; one that does not exist is not an error. Throws HostError.
void removeFile(const QString &path);
// The same for a file another program may change: it is moved aside, and
// removed only while it holds exactly expected; otherwise it goes back (a
// newer file in its place meanwhile stays) and HostError says it changed.
void removeFileIfUnchanged(const QString &path, const QByteArray &expected);

// Writes all of data to fd, again after an interrupted write; returns 0 or the
// errno of the failure.
int writeAll(int fd, const QByteArray &data);

// Reads a whole file; throws HostError when it cannot be read, or when it is
// larger than maxBytes (then without reading it). A file still waiting in the
// current WriteBatch is committed first.
QByteArray readWholeFile(const QString &path, qint64 maxBytes);
// The same for a path relative to an open folder (AT_FDCWD: the current one),
// which spares the walk of the whole path for every file of a large folder.
// A file waiting in a batch is only seen when the path is absolute.
QByteArray readWholeFileAt(int folderFd, const QString &path, qint64 maxBytes);

// One file to write durably: data goes to temp, then temp is renamed to
// target. With uniqueTemp, temp ends in XXXXXX, which becomes a name no file
// has, and the file gets mode 0644 less the umask; else temp must not exist
// and gets 0600. With makeFolders, missing folders of temp and target are made.
struct WriteJob {
    QByteArray temp;
    QByteArray target;
    QByteArray data;
    bool uniqueTemp = true;
    bool makeFolders = false;
    QByteArray maildir; // with makeFolders: a Maildir whose tmp/, new/ and cur/ are all made again
    // A compare-and-swap: the target must hold exactly these bytes right
    // before the rename, and the new file takes its permission bits.
    std::optional<QByteArray> expected;
    quint64 inode = 0; // of temp, once written: with an expectation, how the new file is known
    QByteArray after;  // the target of an earlier job of the same batch whose failure cancels this one
};

namespace detail {
// Creates job.temp (filling in a unique name) and writes job.data to it;
// returns the open descriptor, or -errno after removing what it made.
int writeTemp(WriteJob &job);
// For a job with an expectation: gives the open temp file fd the target's
// permission bits; ESTALE when the target is no regular file any more.
int takeTargetMode(const WriteJob &job, int fd);
// Renames job.temp to job.target; returns 0 or the errno of the failure. A
// job with an expectation is put in place only while the target holds it:
// the two files are exchanged in one step and the one taken out is
// compared, so no change another program made before is ever replaced; a
// changed file is put back (ESTALE).
int renameIntoPlace(const WriteJob &job);
// Its compare-and-swap where the file system cannot exchange two files: the
// target is moved aside in one step and compared there, and the new file
// goes in only where no file is. ENOTSUP where the file system can refuse
// neither a replacing rename nor a link.
int replaceWithoutExchange(const WriteJob &job);
// The text of a failure of one file.
QString failureText(const QString &file, int error);
QByteArray folderOf(const QByteArray &path);
void syncFolderPath(const QByteArray &folder);
} // namespace detail

} // namespace hostmail
