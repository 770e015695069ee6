#include "shell/views/frmSplash.h"

#include "common/views/Icons.h"
#include "ui_frmSplash.h"

#include <QKeyEvent>
#include <QStyle>

namespace shell {

frmSplash::frmSplash(QWidget *parent) : QDialog(parent), ui(std::make_unique<Ui::frmSplash>())
{
    ui->setupUi(this);
    setWindowFlag(Qt::FramelessWindowHint);
    ui->lblVersion->setText(QStringLiteral("Version %1").arg(QStringLiteral(CHEERPOST_VERSION)));
    QFont title = ui->lblProductName->font();
    title.setPointSize(title.pointSize() * 2);
    title.setBold(true);
    ui->lblProductName->setFont(title);
    ui->Command1->setIcon(common::themedIcon(QStringLiteral("go-next")));
    connect(ui->Command1, &QPushButton::clicked, this, &frmSplash::dismiss);
    ui->Frame1->installEventFilter(this);
}

frmSplash::~frmSplash() = default;

void frmSplash::dismiss()
{
    if (m_dismissed)
        return;
    m_dismissed = true;
    Q_EMIT dismissed();
}

void frmSplash::keyPressEvent(QKeyEvent *event)
{
    if (!event->text().isEmpty())
        dismiss();
}

bool frmSplash::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->Frame1 && event->type() == QEvent::MouseButtonRelease)
        dismiss();
    return QDialog::eventFilter(watched, event);
}

} // namespace shell
