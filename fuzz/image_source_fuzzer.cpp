// Feeds arbitrary image sources, one a line, through the greeting and bulk
// rules that turn a template's images into the files to attach.
#include "bulkmail/core/Recipients.h"
#include "greetings/core/Composition.h"
#include "templates/core/ImageSources.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const QStringList sources = text.split(QLatin1Char('\n'));
    for (const QString &src : sources) {
        const QString path = templates::imagePathFromSource(src);
        const QString lower = src.trimmed().toLower();
        if ((lower.startsWith(QLatin1String("http://")) || lower.startsWith(QLatin1String("https://"))) &&
            !src.contains(QLatin1Char('\\')) && !path.isEmpty())
            std::abort(); // a web image is never a local file
    }
    // The list joins paths with ";", so only a path holding one splits.
    bool semicolon = false;
    for (const QString &src : sources)
        semicolon = semicolon || templates::imagePathFromSource(src).contains(QLatin1Char(';'));
    const QStringList greeting = greetings::attachmentPaths(greetings::imageAttachmentList(sources), QString());
    for (const QString &p : greeting) {
        if (p.isEmpty() && !semicolon)
            std::abort();
    }
    bulkmail::bulkImagePaths(bulkmail::bulkImageList(sources));
    return 0;
}
