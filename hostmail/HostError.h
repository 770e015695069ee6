#pragma once

#include <QString>
#include <stdexcept>

namespace hostmail {

// The one exception type for every failure of the mail host. Callers that run
// long commands catch it per step, skip that step and go on.
class HostError : public std::runtime_error {
public:
    explicit HostError(const QString &what) : std::runtime_error(what.toStdString()) {}
};

} // namespace hostmail
