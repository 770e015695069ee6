#include "templates/core/ImageSources.h"

#include "hostmail/mime/LocalReferences.h"

#include <QFileInfo>
#include <QMimeDatabase>
#include <QSet>

namespace templates {

TemplateFiles templateFiles(const QString &html)
{
    TemplateFiles files;
    QStringList other; // references that are no picture, after the pictures
    QSet<QString> seen;
    for (const hostmail::mime::LocalReference &r : hostmail::mime::localReferences(html)) {
        if (!r.picture) {
            other.append(QStringLiteral("%1 (%2)").arg(r.value, r.place));
            continue;
        }
        if (r.path.isEmpty())
            continue; // no file of this machine: the mail blanks it
        if (r.image)
            files.images.append(r.path);
        if (seen.contains(r.path))
            continue;
        seen.insert(r.path);
        if (isImageFile(r.path))
            files.pictures.append(r.path);
        else
            files.leftOut.append(QStringLiteral("%1 (%2)").arg(r.path, QFileInfo::exists(r.path)
                                                                           ? QStringLiteral("not a picture")
                                                                           : QStringLiteral("file not found")));
    }
    files.leftOut.append(other);
    return files;
}

QStringList attachedPictures(QStringList chosen, const TemplateFiles &files)
{
    chosen.removeIf([&](const QString &path) { return !files.pictures.contains(path); });
    for (const QString &picture : files.pictures) {
        if (!chosen.contains(picture))
            chosen.append(picture);
    }
    return chosen;
}

bool isImageFile(const QString &path)
{
    static const QMimeDatabase db;
    return db.mimeTypeForFile(path, QMimeDatabase::MatchContent).name().startsWith(QLatin1String("image/"));
}

} // namespace templates
