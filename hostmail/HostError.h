#pragma once

#include <QString>
#include <QStringList>

#include <stdexcept>

namespace hostmail {

// The one exception type for every failure of the mail host. Callers that run
// long commands catch it per step, skip that step and go on. A failure of
// writes that were batched names the files that did not reach the disk.
class HostError : public std::runtime_error {
public:
    explicit HostError(const QString &what, QStringList files = {}, QString reason = {})
        : std::runtime_error(what.toStdString()), m_files(std::move(files)), m_reason(std::move(reason))
    {
    }
    const QStringList &files() const { return m_files; }
    // Why, in a few words ("No space left on device"); else the whole text.
    QString reason() const { return m_reason.isEmpty() ? QString::fromUtf8(what()) : m_reason; }

private:
    QStringList m_files;
    QString m_reason;
};

} // namespace hostmail
