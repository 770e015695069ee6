#include "templates/core/ImageSources.h"

#include "hostmail/mime/LocalReferences.h"

#include <QMimeDatabase>
#include <QUrl>

namespace templates {

QString imagePathFromSource(const QString &src)
{
    const qsizetype slash = src.indexOf(QLatin1Char('\\'));
    if (slash >= 0) {
        // 1-based position p of the first backslash; the path starts at p - 2.
        if (slash + 1 <= 2)
            return {};
        return src.mid(slash - 2);
    }
    // What a local file is, is the mail library's one rule.
    return hostmail::mime::localPathOf(src);
}

TemplateFiles templateFiles(const QString &html, const QStringList &listed)
{
    TemplateFiles files;
    for (const QString &picture : hostmail::mime::localPictures(html)) {
        if (listed.contains(picture))
            continue;
        if (isImageFile(picture))
            files.morePictures.append(picture);
        else
            files.leftOut.append(QStringLiteral("%1 (not a picture)").arg(picture));
    }
    for (const hostmail::mime::LocalReference &r : hostmail::mime::localReferences(html)) {
        if (!r.picture)
            files.leftOut.append(QStringLiteral("%1 (%2)").arg(r.value, r.place));
    }
    return files;
}

bool isImageFile(const QString &path)
{
    static const QMimeDatabase db;
    return db.mimeTypeForFile(path, QMimeDatabase::MatchContent).name().startsWith(QLatin1String("image/"));
}

} // namespace templates
