#pragma once

#include "templates/views/FileChooser.h"

#include <QStringList>

// File dialogs that answer from a queue (cancel when it runs dry) and record the filters.
struct FakeFiles : templates::FileChooser {
    QStringList answers;
    QStringList filters;
    QString openFile(QWidget *, const QString &filter) override { return next(filter); }
    QString saveFile(QWidget *, const QString &filter) override { return next(filter); }

private:
    QString next(const QString &filter)
    {
        filters.append(filter);
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
};
