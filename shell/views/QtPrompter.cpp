#include "shell/views/QtPrompter.h"

#include <QApplication>
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

QWidget *QtPrompter::owner() const
{
    return m_parent ? m_parent : QApplication::activeWindow();
}

bool QtPrompter::askYesNo(const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, title, lines(text), QMessageBox::Yes | QMessageBox::No, owner());
    return box.exec() == QMessageBox::Yes;
}

void QtPrompter::tell(const QString &title, const QString &text, common::MessageIcon icon)
{
    const QMessageBox::Icon i = icon == common::MessageIcon::Information   ? QMessageBox::Information
                                : icon == common::MessageIcon::Critical    ? QMessageBox::Critical
                                : icon == common::MessageIcon::Exclamation ? QMessageBox::Warning
                                                                           : QMessageBox::NoIcon;
    QMessageBox box(i, title, lines(text), QMessageBox::Ok, owner());
    box.exec();
}

} // namespace shell
