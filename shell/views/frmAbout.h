#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class frmAbout;
}

namespace common {
class Prompter;
}

namespace shell {

// The about box; not modal. Enter and Escape close it.
class frmAbout : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(std::shared_ptr<common::Prompter> prompter, QWidget *parent = nullptr);
    ~frmAbout() override;

    // Starts the system information tool, or says it is unavailable.
    void StartSysInfo();
    QStringList toolCandidates;

private:
    std::unique_ptr<Ui::frmAbout> ui;
    std::shared_ptr<common::Prompter> m_prompter;
};

} // namespace shell
