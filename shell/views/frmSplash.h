#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class frmSplash;
}

namespace shell {

// The splash window: it stays until a click on its button or frame, or a key
// that gives a character (Enter and Escape included); then it emits dismissed.
class frmSplash : public QDialog {
    Q_OBJECT
public:
    explicit frmSplash(QWidget *parent = nullptr);
    ~frmSplash() override;

Q_SIGNALS:
    void dismissed();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void dismiss();
    std::unique_ptr<Ui::frmSplash> ui;
    bool m_dismissed = false;
};

} // namespace shell
