#pragma once

#include <QIcon>
#include <QString>

namespace common {

// The icon of the desktop's icon theme with that freedesktop name, or the
// program's own picture of it where the theme has none (or there is no
// theme), so that every command has its own icon everywhere.
QIcon themedIcon(const QString &name);

// The program's icon: the installed "cheerpost" of the theme, or its own.
QIcon applicationIcon();

} // namespace common
