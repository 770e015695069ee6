#include "common/views/PanelRules.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QStyle>

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

void keepTextReadable(std::initializer_list<QLineEdit *> boxes)
{
    for (QLineEdit *box : boxes) {
        const QString text = box->text().isEmpty() ? box->placeholderText() : box->text();
        const QMargins margins = box->textMargins();
        // The frame on each side, the box's own margin of 2 and the cursor.
        const int frame = box->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, box);
        box->setMinimumWidth(box->fontMetrics().horizontalAdvance(text) + margins.left() + margins.right() + 2 * frame +
                             2 * 2 + 2);
    }
}

} // namespace common
