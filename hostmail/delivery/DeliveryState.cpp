#include "hostmail/delivery/DeliveryState.h"

#include "hostmail/HostError.h"
#include "hostmail/store/AtomicFile.h"
#include "hostmail/store/Limits.h"

#include <QFile>
#include <QSet>

namespace hostmail {

namespace {

const char *stageName(DeliveryState::Stage s)
{
    switch (s) {
    case DeliveryState::Stage::Failed:
        return "failed";
    case DeliveryState::Stage::Sending:
        return "sending";
    case DeliveryState::Stage::HandedOver:
        return "handed-over";
    }
    return "failed";
}

} // namespace

void DeliveryState::load()
{
    m_entries.clear();
    if (!QFile::exists(m_file))
        return;
    // One line a message: name, stage, attempts, time of the next attempt (seconds since 1970).
    for (const QByteArray &line : readWholeFile(m_file, kMaxContactFileBytes).split('\n')) {
        const QList<QByteArray> f = line.split('\t');
        if (f.size() != 4 || f.at(0).isEmpty())
            continue;
        Entry e;
        e.stage = f.at(1) == "sending" ? Stage::Sending : f.at(1) == "handed-over" ? Stage::HandedOver : Stage::Failed;
        e.attempts = f.at(2).toInt();
        e.retryAt = QDateTime::fromSecsSinceEpoch(f.at(3).toLongLong());
        m_entries.insert(QString::fromUtf8(f.at(0)), e);
    }
}

void DeliveryState::save() const
{
    QByteArray text;
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
        text += it.key().toUtf8() + '\t' + stageName(it->stage) + '\t' + QByteArray::number(it->attempts) + '\t' +
                QByteArray::number(it->retryAt.isValid() ? it->retryAt.toSecsSinceEpoch() : 0) + '\n';
    }
    writeFileAtomically(m_file, text);
}

const DeliveryState::Entry *DeliveryState::find(const QString &name) const
{
    const auto it = m_entries.constFind(name);
    return it == m_entries.cend() ? nullptr : &*it;
}

void DeliveryState::keepOnly(const QSet<QString> &names)
{
    m_entries.removeIf([&](const auto &entry) { return !names.contains(entry.key()); });
}

qint64 DeliveryState::retryDelaySeconds(int attempts)
{
    const int doublings = qBound(0, attempts - 1, 6);
    return qMin<qint64>(qint64(15 * 60) << doublings, 12 * 3600);
}

} // namespace hostmail
