#include "export/views/frmiPodExport.h"

#include "common/core/Prompter.h"
#include "common/views/Icons.h"
#include "export/core/ExportRun.h"
#include "ui_frmiPodExport.h"

#include <QDir>
#include <QFileDialog>
#include <QStyle>
#include <QTimer>

namespace exporting {

frmiPodExport::frmiPodExport(Services services, QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::frmiPodExport>()), m_services(std::move(services))
{
    ui->setupUi(this);
    ui->Picture1->setPixmap(common::themedIcon(QStringLiteral("drive-removable-media")).pixmap(48, 48));
    if (!m_services.pickFolder) {
        m_services.pickFolder = [](QWidget *owner) {
            // From the home folder: a desktop folder need not exist here.
            return QFileDialog::getExistingDirectory(owner, kBrowseTitle, QDir::homePath());
        };
    }
    connect(ui->CmdBrowse, &QPushButton::clicked, this, &frmiPodExport::CmdBrowse_Click);
    connect(ui->CmdExport, &QPushButton::clicked, this, &frmiPodExport::CmdExport_Click);
}

frmiPodExport::~frmiPodExport() = default;

void frmiPodExport::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!m_searched) {
        m_searched = true;
        // Shown first, so "Locating your iPod..." is on screen while it searches.
        QTimer::singleShot(0, this, &frmiPodExport::Form_Load);
    }
}

void frmiPodExport::setLocation(const QString &location)
{
    ui->DriveLabel->setText(location);
    ui->ChkContacts->setText(QStringLiteral("Contacts - ") + targetFolder(location, QStringLiteral("Contacts")));
    ui->ChkCalendarItems->setText(QStringLiteral("Calendar Items - ") +
                                  targetFolder(location, QStringLiteral("Calendars")));
    ui->ChkNotes->setText(QStringLiteral("Notes - ") + targetFolder(location, QStringLiteral("Notes")));
}

void frmiPodExport::Form_Load()
{
    m_searched = true;
    const QString root = DeviceLocator(m_services.volumes()).locateiPodDrive();
    if (root.isEmpty()) {
        m_services.prompter->tell(kNotFoundTitle, kNotFoundText, common::MessageIcon::Critical);
        // The window the user goes on with comes back in front of the main window.
        raise();
        activateWindow();
        ui->Label1->setText(QStringLiteral("Locate your iPod / External Drive by clicking Browse"));
        ui->CmdBrowse->setEnabled(true);
        return;
    }
    ui->Label1->setText(QStringLiteral("Your iPod was located automatically at:"));
    setLocation(root);
    ui->CmdExport->setEnabled(true);
}

void frmiPodExport::CmdBrowse_Click()
{
    const QString folder = m_services.pickFolder(this);
    if (folder.isEmpty())
        return;
    setLocation(folder);
    ui->CmdExport->setEnabled(true);
}

QString frmiPodExport::exportLocation() const
{
    return ui->DriveLabel->text();
}

void frmiPodExport::CmdExport_Click()
{
    ExportView view;
    view.showProgress = [this] {
        ui->Label2->setVisible(true);
        ui->ProgressBar->setVisible(true);
    };
    view.setLabel = [this](const QString &text) {
        ui->Label2->setText(text);
        ui->Label2->repaint();
    };
    view.setMaximum = [this](int max) { ui->ProgressBar->setMaximum(max); };
    view.setValue = [this](int value) { ui->ProgressBar->setValue(value); };
    ExportChoice choice;
    choice.location = exportLocation();
    choice.contacts = ui->ChkContacts->isChecked();
    choice.calendarItems = ui->ChkCalendarItems->isChecked();
    choice.notes = ui->ChkNotes->isChecked();
    ExportRun(m_services.openHost, *m_services.prompter, view).run(choice);
}

} // namespace exporting
