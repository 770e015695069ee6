#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <utility>

class QCheckBox;
class QLineEdit;
class QRadioButton;

namespace common {

// A page's preferences as the settings key keeps them: restored from the
// stored text of each name, saved as name and text in the order written.
using StoredText = std::function<QString(const char *name)>;
using PreferenceList = QList<std::pair<const char *, QString>>;

// Whether a stored flag holds its true form, in any case.
bool isTrueForm(const QString &value, const char *trueForm);
QString flagText(bool on, const char *yes, const char *no);

// A stored text with its check box: non-empty checks it and fills the box.
void restoreChecked(const QString &value, QCheckBox *check, QLineEdit *box);
// One member of a Standard/Custom pair: non-empty selects its option.
void restorePairMember(const QString &value, QRadioButton *option, QLineEdit *box);
// A pair's two names: the chosen member's trimmed text, the other empty.
void appendPair(PreferenceList &out, const QRadioButton *custom, const QLineEdit *stdBox, const QLineEdit *custBox,
                const char *stdName, const char *custName);

} // namespace common
