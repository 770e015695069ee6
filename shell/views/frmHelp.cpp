#include "shell/views/frmHelp.h"

#include "ui_frmHelp.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace shell {

frmHelp::frmHelp(const QString &helpFile, QWidget *parent) : QDialog(parent), ui(std::make_unique<Ui::frmHelp>())
{
    ui->setupUi(this);
    if (QFileInfo::exists(helpFile))
        ui->txtHelp->setSource(QUrl::fromLocalFile(helpFile));
    else
        ui->txtHelp->setHtml(QStringLiteral("<p>The help page %1 was not found.</p>").arg(helpFile.toHtmlEscaped()));
    connect(ui->cmdClose, &QPushButton::clicked, this, &QDialog::close);
}

frmHelp::~frmHelp() = default;

QString helpFilePath(const QString &programFolder)
{
    const QStringList candidates = {
        programFolder + QLatin1String("/help.html"),
        programFolder + QLatin1String("/../share/cheerpost/help.html"),
        QStringLiteral(CHEERPOST_SOURCE_DIR "/docs/help.html"),
    };
    for (const QString &c : candidates) {
        if (QFileInfo::exists(c))
            return QDir::cleanPath(c);
    }
    return QDir::cleanPath(candidates.first());
}

QString exampleTemplateFolder(const QString &programFolder)
{
    for (const QString &c : {programFolder + QLatin1String("/../share/cheerpost/templates"),
                             QStringLiteral(CHEERPOST_SOURCE_DIR "/templates/examples")}) {
        if (QFileInfo(c).isDir())
            return QDir::cleanPath(c);
    }
    return {};
}

QString exampleTemplateName(QChar letter)
{
    return letter == QLatin1Char('B')   ? QStringLiteral("birthday.html")
           : letter == QLatin1Char('A') ? QStringLiteral("anniversary.html")
                                        : QStringLiteral("bulk.html");
}

} // namespace shell
