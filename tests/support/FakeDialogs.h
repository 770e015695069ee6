#pragma once

#include "templates/views/Dialogs.h"

#include <QStringList>

// File dialogs that answer from a queue (cancel when it runs dry) and record
// the filters; the font dialog answers with font, or cancels when it has none,
// and records the font it started from.
struct FakeDialogs : templates::Dialogs {
    QStringList answers;
    QStringList filters;
    std::optional<QFont> font;
    QFont initialFont;
    QStringList folders;     // where each open dialog started
    QStringList saveFolders; // where each save dialog started
    QString openFile(QWidget *, const QString &filter, const QString &folder = QString()) override
    {
        folders.append(folder);
        return next(filter);
    }
    QString saveFile(QWidget *, const QString &filter, const QString &folder = QString()) override
    {
        saveFolders.append(folder);
        return next(filter);
    }
    std::optional<QFont> chooseFont(QWidget *, const QFont &initial) override
    {
        initialFont = initial;
        return font;
    }

private:
    QString next(const QString &filter)
    {
        filters.append(filter);
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
};
