#pragma once

#include <QFont>
#include <QString>

#include <optional>

class QWidget;

namespace templates {

// The dialogs of the template commands; tests give their own answers.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Each returns the chosen path, or an empty text when cancelled. The
    // dialog starts in folder when one is given.
    virtual QString openFile(QWidget *parent, const QString &filter, const QString &folder = QString()) = 0;
    virtual QString saveFile(QWidget *parent, const QString &filter, const QString &folder = QString()) = 0;
    // The font chosen, starting from initial; none when cancelled.
    virtual std::optional<QFont> chooseFont(QWidget *parent, const QFont &initial) = 0;
};

// QFileDialog with the filters converted from "A|*.a|B|*.b", and QFontDialog.
class QtDialogs : public Dialogs {
public:
    QString openFile(QWidget *parent, const QString &filter, const QString &folder = QString()) override;
    QString saveFile(QWidget *parent, const QString &filter, const QString &folder = QString()) override;
    std::optional<QFont> chooseFont(QWidget *parent, const QFont &initial) override;
};

} // namespace templates
