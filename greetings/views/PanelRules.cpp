#include "greetings/views/PanelRules.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>

namespace greetings {

void enableWithOption(QObject *owner, QWidget *page, const char *option, const char *enables, const char *disables)
{
    QObject::connect(pageControl<QRadioButton>(page, option), &QRadioButton::toggled, owner,
                     [page, enables, disables](bool on) {
                         if (!on)
                             return;
                         pageControl<QLineEdit>(page, enables)->setEnabled(true);
                         pageControl<QLineEdit>(page, disables)->setEnabled(false);
                     });
}

void clearWhenUnchecked(QObject *owner, QWidget *page, const char *check, const char *box)
{
    QObject::connect(pageControl<QCheckBox>(page, check), &QCheckBox::toggled, owner, [page, box](bool on) {
        QLineEdit *edit = pageControl<QLineEdit>(page, box);
        edit->setEnabled(on);
        if (!on)
            edit->clear();
    });
}

} // namespace greetings
