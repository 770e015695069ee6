#include "templates/core/ImageSources.h"

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
    if (src.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
        const QUrl url(src);
        return url.isLocalFile() ? url.toLocalFile() : QString();
    }
    if (src.startsWith(QLatin1Char('/')))
        return src;
    return {};
}

bool isImageFile(const QString &path)
{
    static const QMimeDatabase db;
    return db.mimeTypeForFile(path, QMimeDatabase::MatchContent).name().startsWith(QLatin1String("image/"));
}

} // namespace templates
