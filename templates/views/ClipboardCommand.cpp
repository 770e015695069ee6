#include "templates/views/ClipboardCommand.h"

#include <QAbstractSpinBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QWebEngineView>

namespace templates {

namespace {

template <typename T> void apply(T *w, ClipboardAction action)
{
    switch (action) {
    case ClipboardAction::Cut:
        w->cut();
        break;
    case ClipboardAction::Copy:
        w->copy();
        break;
    case ClipboardAction::Paste:
        w->paste();
        break;
    }
}

} // namespace

void clipboardCommand(QWidget *focused, ClipboardAction action)
{
    for (QWidget *w = focused; w; w = w->parentWidget()) {
        if (auto *line = qobject_cast<QLineEdit *>(w))
            return apply(line, action);
        if (auto *plain = qobject_cast<QPlainTextEdit *>(w))
            return apply(plain, action);
        if (auto *rich = qobject_cast<QTextEdit *>(w))
            return apply(rich, action);
        if (auto *view = qobject_cast<QWebEngineView *>(w)) {
            const QWebEnginePage::WebAction web = action == ClipboardAction::Cut    ? QWebEnginePage::Cut
                                                  : action == ClipboardAction::Copy ? QWebEnginePage::Copy
                                                                                    : QWebEnginePage::Paste;
            view->page()->triggerAction(web);
            return;
        }
    }
}

} // namespace templates
