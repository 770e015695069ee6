#include "templates/core/TemplateText.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringList>

namespace templates {

QString removeGeneratorTag(const QString &html)
{
    QString out = html;
    out.remove(kGeneratorTag, Qt::CaseInsensitive);
    return out;
}

QString dialogFilter(const QString &pairs)
{
    const QStringList parts = pairs.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts.at(i + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
        // "*.*" means every file there, as "*" does here: a file dialog takes
        // "*.*" literally and would hide the names without a dot.
        for (QString &p : patterns) {
            if (p.trimmed() == QLatin1String("*.*"))
                p = QStringLiteral("*");
        }
        filters.append(QStringLiteral("%1 (%2)").arg(parts.at(i), patterns.join(QLatin1Char(' '))));
    }
    return filters.join(QLatin1String(";;"));
}

QString previewFilePath(const QString &programFolder)
{
    const QFileInfo folder(programFolder);
    if (folder.isDir() && folder.isWritable())
        return QDir(programFolder).filePath(QStringLiteral("temp.html"));
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    QDir().mkpath(cache);
    return QDir(cache).filePath(QStringLiteral("temp.html"));
}

bool writePreviewFile(const QString &path, const QString &html)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(html.toUtf8());
    return file.commit();
}

} // namespace templates
