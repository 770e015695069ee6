#pragma once

#include <QLatin1String>
#include <QWidget>

class QObject;

namespace greetings {

// A page's control by its object name; a missing name is a programming error.
template <typename T> T *pageControl(QWidget *page, const char *name)
{
    T *w = page->findChild<T *>(QLatin1String(name));
    Q_ASSERT_X(w, "pageControl", name);
    return w;
}

// The rules the greeting and bulk pages share: selecting an option of a
// Standard/Custom pair enables its box and disables the other's (texts kept);
// clearing a CC/BCC check box disables its box and empties it.
void enableWithOption(QObject *owner, QWidget *page, const char *option, const char *enables, const char *disables);
void clearWhenUnchecked(QObject *owner, QWidget *page, const char *check, const char *box);

} // namespace greetings
