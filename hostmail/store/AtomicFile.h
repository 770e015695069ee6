#pragma once

#include <QByteArray>
#include <QString>

namespace hostmail {

// Replaces the file at path with data: the bytes go to a temporary file in the
// same folder, are flushed to disk, and only then renamed over the target, so
// a reader sees either the old file or the new one, never a part. An existing
// file keeps its permission bits. Throws HostError on any failure, leaving the
// old file as it was. Inside a WriteBatch the work is handed to the batch,
// and a failure shows in its lost files instead.
void writeFileAtomically(const QString &path, const QByteArray &data);

// Writes data to temp (a new file, mode 0600) and moves it to target once it is
// on disk; for Maildir, whose rename from tmp/ into new/ or cur/ is the atomic
// step. Missing folders of both are made, and then all three folders of the
// Maildir at maildir, so that every reader can open it. A failure removes
// temp and throws HostError; inside a WriteBatch as above.
void writeFileThrough(const QString &temp, const QString &target, const QByteArray &data,
                      const QString &maildir = QString());

// Removes a file; one that does not exist is not an error. Throws HostError.
void removeFile(const QString &path);

// Reads a whole file; throws HostError when it cannot be read, or when it is
// larger than maxBytes (then without reading it). A file still waiting in the
// current WriteBatch is committed first.
QByteArray readWholeFile(const QString &path, qint64 maxBytes);
// The same for a path relative to an open folder (AT_FDCWD: the current one),
// which spares the walk of the whole path for every file of a large folder.
// A file waiting in a batch is only seen when the path is absolute.
QByteArray readWholeFileAt(int folderFd, const QString &path, qint64 maxBytes);

// One file to write durably: data goes to temp, then temp is renamed to
// target. With uniqueTemp, temp is a mkstemp template and the file takes the
// target's permission bits (0644 for a new file); else temp must not exist
// and gets 0600. With makeFolders, missing folders of temp and target are made.
struct WriteJob {
    QByteArray temp;
    QByteArray target;
    QByteArray data;
    bool uniqueTemp = true;
    bool makeFolders = false;
    QByteArray maildir; // with makeFolders: a Maildir whose tmp/, new/ and cur/ are all made again
};

namespace detail {
// Creates job.temp (filling in a unique name) and writes job.data to it;
// returns the open descriptor, or -errno after removing what it made.
int writeTemp(WriteJob &job);
// Renames job.temp to job.target; returns 0 or the errno of the failure.
int renameIntoPlace(const WriteJob &job);
QByteArray folderOf(const QByteArray &path);
void syncFolderPath(const QByteArray &folder);
} // namespace detail

} // namespace hostmail
