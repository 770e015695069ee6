#include "templates/views/FileChooser.h"

#include "templates/core/TemplateText.h"

#include <QFileDialog>

namespace templates {

QString DialogFileChooser::openFile(QWidget *parent, const QString &filter)
{
    return QFileDialog::getOpenFileName(parent, QString(), QString(), dialogFilter(filter));
}

QString DialogFileChooser::saveFile(QWidget *parent, const QString &filter)
{
    // No default suffix: the document goes to exactly the chosen path.
    return QFileDialog::getSaveFileName(parent, QString(), QString(), dialogFilter(filter));
}

} // namespace templates
