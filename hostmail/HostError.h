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
    explicit HostError(const QString &what, QStringList files = {})
        : std::runtime_error(what.toStdString()), m_files(std::move(files))
    {
    }
    const QStringList &files() const { return m_files; }

private:
    QStringList m_files;
};

} // namespace hostmail
