#include "templates/views/Dialogs.h"

#include "templates/core/TemplateText.h"

#include <QFileDialog>
#include <QFontDialog>

namespace templates {

QString QtDialogs::openFile(QWidget *parent, const QString &filter, const QString &folder)
{
    return QFileDialog::getOpenFileName(parent, QString(), folder, dialogFilter(filter));
}

QString QtDialogs::saveFile(QWidget *parent, const QString &filter, const QString &folder)
{
    // No default suffix: the document goes to exactly the chosen path.
    return QFileDialog::getSaveFileName(parent, QString(), folder, dialogFilter(filter));
}

std::optional<QFont> QtDialogs::chooseFont(QWidget *parent, const QFont &initial)
{
    bool ok = false;
    const QFont font = QFontDialog::getFont(&ok, initial, parent);
    return ok ? std::optional<QFont>(font) : std::nullopt;
}

} // namespace templates
