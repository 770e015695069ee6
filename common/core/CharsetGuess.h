#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace common {

// The charset of 8-bit text that declares none and is no UTF-8: what a
// detector reads from the bytes (windows-1250 for Polish, say), or
// windows-1252 where it names none or only Latin-1, whose letters
// windows-1252 shares.
QByteArray guessEightBitCharset(QByteArrayView bytes);

} // namespace common
