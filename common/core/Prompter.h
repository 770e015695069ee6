#pragma once

#include <QString>

namespace common {

enum class MessageIcon { None, Information, Critical, Exclamation };

// Message boxes as the commands use them. The window gives real boxes; tests
// record the texts and answer the questions.
class Prompter {
public:
    virtual ~Prompter() = default;
    // A question with Yes and No buttons and no icon; true for Yes.
    virtual bool askYesNo(const QString &title, const QString &text) = 0;
    // A note with an OK button.
    virtual void tell(const QString &title, const QString &text, MessageIcon icon) = 0;
};

inline const QString kAppTitle = QStringLiteral("Cheerpost");

} // namespace common
