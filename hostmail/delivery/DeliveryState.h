#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>

namespace hostmail {

// What delivery remembers of the Outbox's messages, by file name (without the
// Maildir info), in a file beside the Maildirs. A message with no entry is
// simply queued. Names are stored escaped, so any byte a file name can hold
// (a TAB, a line break) keeps its record whole.
class DeliveryState {
public:
    enum class Stage {
        Failed,     // the last attempt failed; tried again after retryAt
        Sending,    // being handed over; found on a later run: interrupted
        HandedOver, // the command took it; waits only to be filed in Sent
        Held,       // may have gone out, or cannot go as it is: waits for the user
    };
    struct Entry {
        Stage stage = Stage::Failed;
        int attempts = 0;
        QDateTime retryAt; // Failed: tried again after it; HandedOver: when it was handed over
        QString reason;    // why it failed or is held, for the user
    };

    explicit DeliveryState(QString file) : m_file(std::move(file)) {}
    // Throws HostError when the file exists but cannot be read, or holds a
    // line that is not a record: delivery must not go on without its marks.
    void load();
    // Written atomically and flushed: a stage must survive a crash.
    void save() const;

    const Entry *find(const QString &name) const;
    void set(const QString &name, const Entry &entry) { m_entries.insert(name, entry); }
    void remove(const QString &name) { m_entries.remove(name); }
    int count(Stage stage) const;
    // Forgets every message not in names (delivered, or removed by the user).
    void keepOnly(const QSet<QString> &names);

    // The wait after the n-th failure in a row: 15 minutes, doubling, at most 12 hours.
    static qint64 retryDelaySeconds(int attempts);

private:
    QString m_file;
    QHash<QString, Entry> m_entries;
};

} // namespace hostmail
