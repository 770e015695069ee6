#include "common/core/CharsetGuess.h"

#include <QList>
#include <QString>
#include <QStringDecoder>

#include <uchardet.h>

namespace common {

namespace {

// The code pages that 8-bit address books and pages were written in, the
// common one first: a tie between code pages goes to the earlier one.
const char *const kCodePages[] = {
    "windows-1252", "windows-1250", "iso-8859-2", "iso-8859-15",  "windows-1251", "koi8-r",       "koi8-u",
    "iso-8859-5",   "windows-1253", "iso-8859-7", "windows-1257", "iso-8859-13",  "windows-1254",
};

constexpr qsizetype kSampleBytes = 1024 * 1024;
// Below this many 8-bit characters, a detector's pick between code pages
// that all read as plausible words is no better than a guess.
constexpr int kEnoughEightBit = 16;

bool isOpening(QChar c)
{
    return c == u'¿' || c == u'¡' || c.category() == QChar::Punctuation_Open ||
           c.category() == QChar::Punctuation_InitialQuote || c.category() == QChar::Punctuation_Dash;
}

// How many of the 8-bit characters, read in this code page, make no word a
// person would write: a byte the code page leaves undefined, a symbol inside
// a word or opening one ("£ukasz", "¯ó³towska"), a capital right after a
// small letter, a word of two scripts, or a Latin word made mostly of
// accented letters (Cyrillic read as Western). Spelling is left to the
// detector; these are mistakes in any language.
int implausibility(const QByteArray &sample, const QString &text)
{
    int bad = 0;
    const qsizetype n = text.size();
    auto at = [&](qsizetype i) { return i >= 0 && i < n ? text.at(i) : QChar(u' '); };
    auto eightBit = [&](qsizetype i) { return static_cast<unsigned char>(sample.at(i)) >= 0x80; };
    for (qsizetype i = 0; i < n; ++i) {
        if (!eightBit(i))
            continue;
        const QChar c = text.at(i);
        const QChar prev = at(i - 1);
        const QChar next = at(i + 1);
        if (c == QChar::ReplacementCharacter || c.category() == QChar::Other_Control ||
            c.category() == QChar::Other_NotAssigned) {
            ++bad;
        } else if (c.isLetter()) {
            bad += c.isUpper() && prev.isLower() ? 1 : 0;
        } else if (!c.isSpace() && next.isLetter() && (prev.isLetter() || !isOpening(c))) {
            ++bad;
        }
    }
    // Words: runs of letters.
    for (qsizetype i = 0; i < n;) {
        if (!text.at(i).isLetter()) {
            ++i;
            continue;
        }
        qsizetype end = i;
        int accented = 0;
        bool latin = false, other = false;
        for (; end < n && text.at(end).isLetter(); ++end) {
            accented += eightBit(end) ? 1 : 0;
            const bool isLatin = text.at(end).script() == QChar::Script_Latin;
            latin = latin || isLatin;
            other = other || !isLatin;
        }
        const qsizetype length = end - i;
        if (latin && other)
            ++bad;
        else if (latin && length >= 4 && accented * 2 > length)
            ++bad;
        i = end;
    }
    return bad;
}

QByteArray detectorPick(QByteArrayView sample)
{
    uchardet_t detector = uchardet_new();
    if (!detector)
        return {};
    QByteArray name;
    if (uchardet_handle_data(detector, sample.data(), static_cast<size_t>(sample.size())) == 0) {
        uchardet_data_end(detector);
        name = QByteArray(uchardet_get_charset(detector)).toLower();
    }
    uchardet_delete(detector);
    return name;
}

} // namespace

QByteArray guessEightBitCharset(QByteArrayView bytes)
{
    const QByteArray sample = bytes.first(qMin<qsizetype>(bytes.size(), kSampleBytes)).toByteArray();
    int eightBit = 0;
    for (const char c : sample)
        eightBit += static_cast<unsigned char>(c) >= 0x80 ? 1 : 0;

    // Every code page reads the sample; those that make the fewest
    // impossible words are left.
    QList<QByteArray> fewest;
    int least = -1;
    for (const char *name : kCodePages) {
        QStringDecoder decoder(name);
        if (!decoder.isValid())
            continue;
        const QString text = decoder.decode(sample);
        if (text.size() != sample.size()) // a single-byte code page reads one character a byte
            continue;
        const int bad = implausibility(sample, text);
        if (least < 0 || bad < least) {
            least = bad;
            fewest.clear();
        }
        if (bad == least)
            fewest.append(name);
    }
    if (fewest.isEmpty())
        return "windows-1252";
    // Among those, windows-1252 stays unless the detector names another with
    // enough text to go on; without windows-1252, the detector's pick or the
    // commonest.
    const bool western = fewest.first() == "windows-1252";
    if (!western || eightBit >= kEnoughEightBit) {
        const QByteArray picked = detectorPick(sample);
        if (fewest.contains(picked))
            return picked;
    }
    return fewest.first();
}

} // namespace common
