#pragma once

#include <initializer_list>

class QCheckBox;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace common {

// The rules the greeting and bulk pages share: selecting an option of a
// Standard/Custom pair enables its box and disables the other's (texts kept);
// clearing a CC/BCC check box disables its box and empties it.
void enableWithOption(QRadioButton *option, QLineEdit *enables, QLineEdit *disables);
void clearWhenUnchecked(QCheckBox *check, QLineEdit *box);
// A page's title: its font six points larger, bold.
void makePageTitle(QLabel *title);
// Keeps each box at least as wide as the text it holds now (or its
// placeholder), so a narrow window never cuts a default text.
void keepTextReadable(std::initializer_list<QLineEdit *> boxes);

} // namespace common
