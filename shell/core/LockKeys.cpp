#include "shell/core/LockKeys.h"

#include <QDir>
#include <QFile>

namespace shell {

LockKeys readLockKeys(const QString &ledsFolder)
{
    LockKeys keys;
    const QDir leds(ledsFolder);
    for (const QString &led : leds.entryList(QDir::Dirs | QDir::System | QDir::NoDotAndDotDot)) {
        bool *on = led.endsWith(QLatin1String("::capslock"))  ? &keys.caps
                   : led.endsWith(QLatin1String("::numlock")) ? &keys.num
                                                              : nullptr;
        if (!on)
            continue;
        QFile brightness(leds.filePath(led) + QLatin1String("/brightness"));
        if (brightness.open(QIODevice::ReadOnly) && brightness.readAll().trimmed().toInt() > 0)
            *on = true;
    }
    return keys;
}

} // namespace shell
