#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

namespace hostmail {

// A Maildir folder: messages are written to tmp/, flushed, then renamed into
// new/ or cur/, so no reader ever sees a partial message.
class Maildir {
public:
    explicit Maildir(QString path) : m_path(std::move(path)) {}

    const QString &path() const { return m_path; }
    void create() const; // throws HostError
    // Stores a message; with flags it goes to cur/ as "name:2,FLAGS", else new/.
    QString add(const QByteArray &message, const QString &flags = QString()) const;
    // Moves a message file of another Maildir here, to cur/ with flags; from
    // another file system by writing it here first. Throws HostError.
    QString moveIn(const QString &file, const QString &flags) const;
    // The same, filing bytes in place of what file holds (a message as it
    // went out). A copy already filed under file's name before a power cut
    // is recognised by its bytes and not filed twice.
    QString moveIn(const QString &file, const QString &flags, const QByteArray &as) const;
    QStringList messages() const; // new/ then cur/, by name
    // Removes the files of tmp/ untouched for 36 hours, the Maildir rule: what
    // a killed writer left. Returns how many went.
    int removeStaleTemporaries(const QDateTime &now) const;

    static QString uniqueName();
    // The name of a message file without its folder and its ":2,FLAGS" info:
    // the same in tmp/, new/ and cur/, and in every Maildir it moves to.
    static QString baseName(const QString &file);

private:
    QString m_path;
};

} // namespace hostmail
