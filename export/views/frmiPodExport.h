#pragma once

#include "export/core/DeviceLocator.h"
#include "hostmail/model/ApplicationFactory.h"

#include <QDialog>

#include <functional>
#include <memory>

namespace Ui {
class frmiPodExport;
}
namespace common {
class Prompter;
}

namespace exporting {

inline const QString kNotFoundTitle = QStringLiteral("iPod not Found");
inline const QString kNotFoundText = QStringLiteral(
    "The system could not automatically locate your iPod!\r\rPlease click the Browse button to specify the iPod / "
    "External drive location.");
inline const QString kBrowseTitle = QStringLiteral("Select your iPod synch location...");

// The export window: finds the device when it opens, or lets the user pick a
// folder, and exports contacts, calendar items and notes there.
class frmiPodExport : public QDialog {
    Q_OBJECT
public:
    struct Services {
        std::shared_ptr<common::Prompter> prompter;
        hostmail::ApplicationFactory openHost;
        std::function<QList<Volume>()> volumes = mountedVolumes;
        std::function<QString(QWidget *)> pickFolder; // empty when cancelled
    };
    explicit frmiPodExport(Services services, QWidget *parent = nullptr);
    ~frmiPodExport() override;

    void Form_Load(); // the device search
    void CmdBrowse_Click();
    void CmdExport_Click();
    QString exportLocation() const;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void setLocation(const QString &location);
    std::unique_ptr<Ui::frmiPodExport> ui;
    Services m_services;
    bool m_searched = false;
};

} // namespace exporting
