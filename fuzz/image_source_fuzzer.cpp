// Feeds arbitrary image sources, one a line, as image elements of a
// template through the rules that choose the pictures a message carries.
#include "greetings/core/Composition.h"
#include "templates/core/ImageSources.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    QString html = QStringLiteral("<html><body>");
    for (const QString &src : text.split(QLatin1Char('\n')))
        html += QStringLiteral("<img src=\"%1\">").arg(src.toHtmlEscaped());
    html += QStringLiteral("</body></html>");
    const templates::TemplateFiles files = templates::templateFiles(html);
    for (const QString &path : files.images) {
        if (!path.startsWith(QLatin1Char('/')))
            std::abort(); // only a file of this machine, by its absolute path
    }
    for (const QStringList &chosen : {files.images, greetings::attachmentPaths(files.images, QString())}) {
        for (const QString &path : templates::attachedPictures(chosen, files)) {
            if (!files.pictures.contains(path))
                std::abort(); // nothing but a picture file the HTML shows
        }
    }
    return 0;
}
