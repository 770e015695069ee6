#include "common/core/CharsetGuess.h"

#include <QStringDecoder>

#include <uchardet.h>

namespace common {

QByteArray guessEightBitCharset(QByteArrayView bytes)
{
    const QByteArray fallback = "windows-1252";
    // A few 8-bit letters say too little for any detector to choose between
    // code pages: the common one is taken.
    int eightBit = 0;
    for (const char c : bytes.first(qMin<qsizetype>(bytes.size(), 1024 * 1024)))
        eightBit += static_cast<unsigned char>(c) >= 0x80 ? 1 : 0;
    if (eightBit < 4)
        return fallback;
    uchardet_t detector = uchardet_new();
    if (!detector)
        return fallback;
    // The first megabyte tells as much as the whole file.
    const QByteArrayView sample = bytes.first(qMin<qsizetype>(bytes.size(), 1024 * 1024));
    QByteArray name;
    if (uchardet_handle_data(detector, sample.data(), static_cast<size_t>(sample.size())) == 0) {
        uchardet_data_end(detector);
        name = QByteArray(uchardet_get_charset(detector)).toLower();
    }
    uchardet_delete(detector);
    // Only the code pages that 8-bit address books and pages were written in;
    // the rarer ones a detector names for short text are more often wrong.
    const bool common = name.startsWith("windows-") || (name.startsWith("iso-8859-") && name != "iso-8859-1") ||
                        name.startsWith("koi8");
    if (!common || !QStringDecoder(name.constData()).isValid())
        return fallback;
    return name;
}

} // namespace common
