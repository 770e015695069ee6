#pragma once

#include "common/core/Prompter.h"

class QWidget;

namespace shell {

// Real message boxes; the lines' carriage returns become line breaks. Without
// a parent of its own, a box belongs to the window that is active.
class QtPrompter : public common::Prompter {
public:
    explicit QtPrompter(QWidget *parent = nullptr) : m_parent(parent) {}
    bool askYesNo(const QString &title, const QString &text) override;
    void tell(const QString &title, const QString &text, common::MessageIcon icon) override;

private:
    QWidget *owner() const;
    QWidget *m_parent;
};

} // namespace shell
