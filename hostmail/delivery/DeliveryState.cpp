#include "hostmail/delivery/DeliveryState.h"

#include "hostmail/HostError.h"
#include "hostmail/store/AtomicFile.h"
#include "hostmail/store/Limits.h"

#include <QFile>
#include <QSet>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hostmail {

namespace {

// The first line of the state file in this form; a file without it holds
// the older records, whose names were written as they are.
const QByteArray kHeader = "cheerpost-delivery-state 2";

struct StageName {
    DeliveryState::Stage stage;
    const char *name;
};
constexpr StageName kStages[] = {{DeliveryState::Stage::Failed, "failed"},
                                 {DeliveryState::Stage::Sending, "sending"},
                                 {DeliveryState::Stage::HandedOver, "handed-over"},
                                 {DeliveryState::Stage::Held, "held"}};

// Every byte outside printable ASCII, and '%' itself, as %XX.
QByteArray escaped(const QString &text)
{
    return text.toUtf8().toPercentEncoding(" !\"#$&'()*+,-./:;<=>?@[\\]^_`{|}~");
}

QString unescaped(const QByteArray &field)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(field));
}

} // namespace

void DeliveryState::load()
{
    m_entries.clear();
    const QByteArray path = QFile::encodeName(m_file);
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0) {
        if (errno == ENOENT)
            return;
        throw HostError(QStringLiteral("Cannot read the delivery state %1: %2")
                            .arg(m_file, QString::fromLocal8Bit(std::strerror(errno))));
    }
    if (!S_ISREG(st.st_mode))
        throw HostError(QStringLiteral("The delivery state %1 is not a plain file; delivery stops until it is "
                                       "removed")
                            .arg(m_file));
    const QByteArray text = readWholeFile(m_file, kMaxContactFileBytes);
    QList<QByteArray> lines = text.split('\n');
    const bool escapedNames = !lines.isEmpty() && lines.first() == kHeader;
    if (escapedNames)
        lines.removeFirst();
    int number = escapedNames ? 1 : 0;
    for (const QByteArray &line : std::as_const(lines)) {
        ++number;
        if (line.isEmpty())
            continue;
        const QList<QByteArray> f = line.split('\t');
        bool attemptsOk = false, timeOk = false;
        Entry e;
        e.attempts = f.value(2).toInt(&attemptsOk);
        const qint64 retry = f.value(3).toLongLong(&timeOk);
        const auto stage = std::find_if(std::begin(kStages), std::end(kStages),
                                        [&](const StageName &s) { return f.value(1) == s.name; });
        if (f.size() < 4 || f.size() > 5 || f.at(0).isEmpty() || !attemptsOk || !timeOk || stage == std::end(kStages))
            throw HostError(QStringLiteral("The delivery state %1 is damaged (line %2); delivery stops until it is "
                                           "repaired or removed")
                                .arg(m_file)
                                .arg(number));
        e.stage = stage->stage;
        if (retry > 0)
            e.retryAt = QDateTime::fromSecsSinceEpoch(retry);
        if (f.size() == 5)
            e.reason = unescaped(f.at(4));
        m_entries.insert(escapedNames ? unescaped(f.at(0)) : QString::fromUtf8(f.at(0)), e);
    }
}

void DeliveryState::save() const
{
    QByteArray text = kHeader + '\n';
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
        const char *stage = "failed";
        for (const StageName &s : kStages) {
            if (s.stage == it->stage)
                stage = s.name;
        }
        text += escaped(it.key()) + '\t' + stage + '\t' + QByteArray::number(it->attempts) + '\t' +
                QByteArray::number(it->retryAt.isValid() ? it->retryAt.toSecsSinceEpoch() : 0) + '\t' +
                escaped(it->reason) + '\n';
    }
    writeFileAtomically(m_file, text);
}

const DeliveryState::Entry *DeliveryState::find(const QString &name) const
{
    const auto it = m_entries.constFind(name);
    return it == m_entries.cend() ? nullptr : &*it;
}

int DeliveryState::count(Stage stage) const
{
    return int(
        std::count_if(m_entries.cbegin(), m_entries.cend(), [stage](const Entry &e) { return e.stage == stage; }));
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
