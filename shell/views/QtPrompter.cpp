#include "shell/views/QtPrompter.h"

#include <QMessageBox>

namespace shell {

namespace {
QString lines(const QString &text)
{
    QString t = text;
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t;
}
} // namespace

bool QtPrompter::askYesNo(const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, title, lines(text), QMessageBox::Yes | QMessageBox::No, m_parent);
    return box.exec() == QMessageBox::Yes;
}

void QtPrompter::tell(const QString &title, const QString &text, common::MessageIcon icon)
{
    const QMessageBox::Icon i = icon == common::MessageIcon::Information   ? QMessageBox::Information
                                : icon == common::MessageIcon::Critical    ? QMessageBox::Critical
                                : icon == common::MessageIcon::Exclamation ? QMessageBox::Warning
                                                                           : QMessageBox::NoIcon;
    QMessageBox box(i, title, lines(text), QMessageBox::Ok, m_parent);
    box.exec();
}

} // namespace shell
