#pragma once

#include <QByteArray>
#include <QString>

namespace hostmail {

// Replaces the file at path with data: the bytes go to a temporary file in the
// same folder, are flushed to disk, and only then renamed over the target, so
// a reader sees either the old file or the new one, never a part. An existing
// file keeps its permission bits. Throws HostError on any failure, leaving the
// old file as it was.
void writeFileAtomically(const QString &path, const QByteArray &data);

// Creates a new file at path (which must not exist) holding data, flushed to
// disk before it returns; a failure removes the partial file. For Maildir's
// tmp/, whose rename into new/ or cur/ is the atomic step.
void writeNewFileDurably(const QString &path, const QByteArray &data);

// Flushes a folder's entries (a rename into it) to disk.
void syncFolder(const QString &folder);

// Reads a whole file; throws HostError when it cannot be read.
QByteArray readWholeFile(const QString &path);

} // namespace hostmail
