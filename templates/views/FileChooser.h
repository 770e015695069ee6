#pragma once

#include <QString>

class QWidget;

namespace templates {

// The file dialogs of the template commands; tests give their own answers.
class FileChooser {
public:
    virtual ~FileChooser() = default;
    // Each returns the chosen path, or an empty text when cancelled.
    virtual QString openFile(QWidget *parent, const QString &filter) = 0;
    virtual QString saveFile(QWidget *parent, const QString &filter) = 0;
};

// QFileDialog with the filters converted from "A|*.a|B|*.b".
class DialogFileChooser : public FileChooser {
public:
    QString openFile(QWidget *parent, const QString &filter) override;
    QString saveFile(QWidget *parent, const QString &filter) override;
};

} // namespace templates
