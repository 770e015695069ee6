#include "common/views/PanelRules.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

namespace common {

void enableWithOption(QRadioButton *option, QLineEdit *enables, QLineEdit *disables)
{
    QObject::connect(option, &QRadioButton::toggled, enables, [enables, disables](bool on) {
        if (!on)
            return;
        enables->setEnabled(true);
        disables->setEnabled(false);
    });
}

void clearWhenUnchecked(QCheckBox *check, QLineEdit *box)
{
    QObject::connect(check, &QCheckBox::toggled, box, [box](bool on) {
        box->setEnabled(on);
        if (!on)
            box->clear();
    });
}

void makePageTitle(QLabel *title)
{
    QFont font = title->font();
    font.setPointSize(font.pointSize() + 6);
    font.setBold(true);
    title->setFont(font);
}

} // namespace common
