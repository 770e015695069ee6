#include "common/views/PagePreferences.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>

namespace common {

bool isTrueForm(const QString &value, const char *trueForm)
{
    return value.compare(QLatin1String(trueForm), Qt::CaseInsensitive) == 0;
}

QString flagText(bool on, const char *yes, const char *no)
{
    return QLatin1String(on ? yes : no);
}

void restoreChecked(const QString &value, QCheckBox *check, QLineEdit *box)
{
    if (value.isEmpty())
        return;
    check->setChecked(true);
    box->setText(value);
    box->setEnabled(true);
}

void restorePairMember(const QString &value, QRadioButton *option, QLineEdit *box)
{
    if (value.isEmpty())
        return;
    option->setChecked(true);
    box->setText(value);
}

void appendPair(PreferenceList &out, const QRadioButton *custom, const QLineEdit *stdBox, const QLineEdit *custBox,
                const char *stdName, const char *custName)
{
    const bool isCustom = custom->isChecked();
    out.append({stdName, isCustom ? QString() : stdBox->text().trimmed()});
    out.append({custName, isCustom ? custBox->text().trimmed() : QString()});
}

} // namespace common
