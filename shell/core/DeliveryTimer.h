#pragma once

#include <QString>

namespace shell {

enum class DeliveryTimerState {
    Enabled,       // the user's cheerpost-deliver.timer runs (it was, or is now)
    NoUserManager, // no systemd user manager to run it
    NotInstalled,  // the manager has no such timer (the program was not installed)
};

// Makes sure that mail waiting for a later day will be delivered on it: when
// the user's delivery timer is not enabled, enables and starts it
// (systemctl --user enable --now cheerpost-deliver.timer).
DeliveryTimerState ensureDeliveryTimer(const QString &systemctl = QStringLiteral("systemctl"));

// What to tell the user when the timer could not be enabled: how the waiting
// mail will leave. Empty when it is enabled.
QString deliveryTimerAdvice(DeliveryTimerState state);

} // namespace shell
