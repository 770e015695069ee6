#pragma once

#include <QString>

namespace shell {

struct LockKeys {
    bool caps = false;
    bool num = false;
};

// The Caps Lock and Num Lock state, from the keyboards' LEDs as the kernel
// shows them (ledsFolder/*::capslock/brightness and *::numlock): the same
// under X11, Wayland and the console. Off where no keyboard shows them.
LockKeys readLockKeys(const QString &ledsFolder = QStringLiteral("/sys/class/leds"));

} // namespace shell
