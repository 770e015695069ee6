#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class frmHelp;
}

namespace shell {

// The help window: the program's HTML help page.
class frmHelp : public QDialog {
    Q_OBJECT
public:
    explicit frmHelp(const QString &helpFile, QWidget *parent = nullptr);
    ~frmHelp() override;

private:
    std::unique_ptr<Ui::frmHelp> ui;
};

// The help page beside the program, in its share folder, or in the source tree.
QString helpFilePath(const QString &programFolder);
// The folder of the shipped example templates (installed, or in the source
// tree), or empty; and the example's file name for an editor's letter.
QString exampleTemplateFolder(const QString &programFolder);
QString exampleTemplateName(QChar letter);

} // namespace shell
