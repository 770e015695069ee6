// Feeds arbitrary HTML through the rewriting that makes a template safe to
// mail: whatever the input, no reference the parser or the net behind it
// finds as local or as script may be left in the result.
#include "hostmail/mime/LocalReferences.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString html = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const QString out = hostmail::mime::rewriteLocalReferences(
        html, [](const QString &path) { return path.size() % 2 ? QStringLiteral("cid:x") : QString(); });
    // A second pass finds nothing more to remove: every local reference went.
    QStringList again;
    const QString twice = hostmail::mime::rewriteLocalReferences(
        out, [](const QString &) { return QString(); }, &again);
    for (const hostmail::mime::LocalReference &r : hostmail::mime::localReferences(out)) {
        if (!r.value.isEmpty()) {
            std::fprintf(stderr, "left: %s (%s)\n", qPrintable(r.value), qPrintable(r.place));
            std::abort();
        }
    }
    hostmail::mime::localPictures(html);
    return 0;
}
