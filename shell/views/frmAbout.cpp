#include "shell/views/frmAbout.h"

#include "common/core/Prompter.h"
#include "common/views/Icons.h"
#include "hostmail/process/CommandRunner.h"
#include "shell/core/SystemInfo.h"
#include "ui_frmAbout.h"

#include <QStyle>

namespace shell {

frmAbout::frmAbout(std::shared_ptr<common::Prompter> prompter, QWidget *parent)
    : QDialog(parent), toolCandidates(systemInfoCandidates()), ui(std::make_unique<Ui::frmAbout>()),
      m_prompter(std::move(prompter))
{
    ui->setupUi(this);
    ui->lblVersion->setText(QStringLiteral("Version %1").arg(QStringLiteral(CHEERPOST_VERSION)));
    ui->picIcon->setPixmap(common::applicationIcon().pixmap(48, 48));
    ui->cmdOK->setIcon(common::themedIcon(QStringLiteral("dialog-ok")));
    ui->cmdSysInfo->setIcon(common::themedIcon(QStringLiteral("computer")));
    ui->cmdOK->setDefault(true);
    ui->cmdOK->setAutoDefault(true);
    ui->cmdSysInfo->setAutoDefault(false);
    connect(ui->cmdOK, &QPushButton::clicked, this, &QDialog::close);
    connect(ui->cmdSysInfo, &QPushButton::clicked, this, &frmAbout::StartSysInfo);
}

frmAbout::~frmAbout() = default;

void frmAbout::StartSysInfo()
{
    const QString tool = findSystemInfoTool(toolCandidates);
    if (tool.isEmpty() || !hostmail::startDetached({tool}))
        m_prompter->tell(common::kAppTitle, kSystemInfoUnavailable, common::MessageIcon::None);
}

} // namespace shell
