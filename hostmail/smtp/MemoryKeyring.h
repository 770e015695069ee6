#pragma once

#include <QString>

#include <optional>

// Secrets kept in the kernel's keyring of this user instead of a desktop
// keyring: in memory only, readable by this user's processes (the window
// and the delivery agent alike), and gone once the user's last process ends,
// that is at logout. For machines without a desktop keyring.
namespace hostmail::smtp::memory {

bool available();
// Keeps secret under name, replacing what was kept; throws HostError.
void keep(const QString &name, const QString &secret);
// What is kept under name, or nothing.
std::optional<QString> find(const QString &name);
void forget(const QString &name);

} // namespace hostmail::smtp::memory
