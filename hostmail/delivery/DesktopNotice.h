#pragma once

#include <QString>

namespace hostmail {

// Shows a notice on the user's desktop through the freedesktop notification
// service on the session bus. Returns false, silently, where there is no bus
// or no service: the exit status and the log still tell.
bool showDesktopNotice(const QString &summary, const QString &body);

// Whether the desktop keyring (the Secret Service's default collection) is
// locked; false where there is no keyring to ask.
bool desktopKeyringLocked();

} // namespace hostmail
