#include "common/views/Icons.h"

#include <QFile>

// The resources of a static library are registered by hand, once.
static void registerIcons()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(icons);
        Q_INIT_RESOURCE(appicon);
        return true;
    }();
    Q_UNUSED(done);
}

namespace common {

QIcon themedIcon(const QString &name)
{
    registerIcons();
    const QString own = QStringLiteral(":/icons/%1.svg").arg(name);
    return QIcon::fromTheme(name, QFile::exists(own) ? QIcon(own) : QIcon());
}

QIcon applicationIcon()
{
    return themedIcon(QStringLiteral("cheerpost"));
}

} // namespace common
