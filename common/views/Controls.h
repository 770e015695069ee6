#pragma once

#include <QObject>
#include <QString>

#include <stdexcept>

namespace common {

// A window's control by its object name. A missing control is a programming
// error that no build type may hide: it throws, naming the control, so the
// window that looks it up fails to construct. Controllers look up every
// control they use when they are made, and a test constructs every window.
template <typename T> T *requireChild(const QObject *root, const QString &name)
{
    T *w = root->findChild<T *>(name);
    if (!w)
        throw std::logic_error("missing control " + name.toStdString() + " in " + root->objectName().toStdString());
    return w;
}

template <typename T> T *requireChild(const QObject *root, const char *name)
{
    return requireChild<T>(root, QString::fromLatin1(name));
}

} // namespace common
