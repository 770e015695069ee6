#pragma once

#include "common/core/Prompter.h"

#include <QList>

#include <QStringList>
#include <memory>

// Answers questions from a queue (Yes when it runs dry) and records every box.
struct RecordingPrompter : common::Prompter {
    struct Box {
        bool question;
        QString title;
        QString text;
        common::MessageIcon icon;
    };
    QList<Box> boxes;
    QList<bool> answers;

    bool askYesNo(const QString &title, const QString &text) override
    {
        boxes.append({true, title, text, common::MessageIcon::None});
        return answers.isEmpty() ? true : answers.takeFirst();
    }
    void tell(const QString &title, const QString &text, common::MessageIcon icon) override
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

// A prompter the test owns, handed to windows that share theirs.
inline std::shared_ptr<common::Prompter> borrowed(common::Prompter &prompter)
{
    return std::shared_ptr<common::Prompter>(&prompter, [](common::Prompter *) {});
}
