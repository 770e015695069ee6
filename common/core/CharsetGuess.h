#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace common {

// The charset of 8-bit text that declares none and is no UTF-8. windows-1252,
// the code page most such files were written in, unless the bytes read in it
// make words no one writes ("£ukasz") and another common code page reads them
// as plain words (windows-1250 for Polish), or a detector names another with
// enough text to go on. One rare letter ("Begoña", "Iksiński") is not enough.
QByteArray guessEightBitCharset(QByteArrayView bytes);

} // namespace common
