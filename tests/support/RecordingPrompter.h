#pragma once

#include "shell/core/Prompter.h"

#include <QList>
#include <QStringList>

// Answers questions from a queue (Yes when it runs dry) and records every box.
struct RecordingPrompter : shell::Prompter {
    struct Box {
        bool question;
        QString title;
        QString text;
        shell::MessageIcon icon;
    };
    QList<Box> boxes;
    QList<bool> answers;

    bool askYesNo(const QString &title, const QString &text) override
    {
        boxes.append({true, title, text, shell::MessageIcon::None});
        return answers.isEmpty() ? true : answers.takeFirst();
    }
    void tell(const QString &title, const QString &text, shell::MessageIcon icon) override
    {
        boxes.append({false, title, text, icon});
    }
    QStringList texts() const
    {
        QStringList out;
        for (const Box &b : boxes)
            out.append(b.text);
        return out;
    }
};
