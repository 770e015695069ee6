#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>

namespace hostmail {

// What delivery remembers of the Outbox's messages, by file name (without the
// Maildir info), in a file beside the Maildirs. A message with no entry is
// simply queued.
class DeliveryState {
public:
    enum class Stage {
        Failed,     // the last attempt failed; tried again after retryAt
        Sending,    // being handed to the command; found on a later run: interrupted
        HandedOver, // the command took it; waits only to be filed in Sent
    };
    struct Entry {
        Stage stage = Stage::Failed;
        int attempts = 0;
        QDateTime retryAt;
    };

    explicit DeliveryState(QString file) : m_file(std::move(file)) {}
    void load();
    // Written atomically and flushed: a stage must survive a crash.
    void save() const;

    const Entry *find(const QString &name) const;
    void set(const QString &name, const Entry &entry) { m_entries.insert(name, entry); }
    void remove(const QString &name) { m_entries.remove(name); }
    // Forgets every message not in names (delivered, or removed by the user).
    void keepOnly(const QSet<QString> &names);

    // The wait after the n-th failure in a row: 15 minutes, doubling, at most 12 hours.
    static qint64 retryDelaySeconds(int attempts);

private:
    QString m_file;
    QHash<QString, Entry> m_entries;
};

} // namespace hostmail
