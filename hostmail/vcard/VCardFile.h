#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <memory>

namespace hostmail {

// One logical content line of a card: "[group.]NAME[;params]:value", after
// unfolding. begin/end give the physical bytes in the file (end includes the
// line terminator), so that an edit can replace exactly those bytes.
struct ContentLine {
    qsizetype begin = 0;
    qsizetype end = 0;
    QByteArray group;                            // as written
    QByteArray name;                             // upper case
    QByteArray prefix;                           // everything before the value's ':' as written, unfolded
    QList<QPair<QByteArray, QByteArray>> params; // names upper case; bare 2.1 params as TYPE
    QByteArray rawValue;                         // unfolded, still encoded
    QByteArray fileCharset;                      // of an 8-bit file without CHARSET parameters, as detected; else empty

    bool hasParam(const char *param, const char *value) const; // value compared without case
    QByteArray param(const char *param) const;                 // first value, or empty
    QString value() const;                                     // quoted-printable and charset decoded; escapes kept
};

struct VCardCard {
    qsizetype begin = 0;        // first byte of BEGIN:VCARD
    qsizetype end = 0;          // just past END:VCARD's terminator
    qsizetype endLineBegin = 0; // first byte of END:VCARD
    QByteArray eol = "\r\n";    // the card's own line terminator
    QByteArray version;         // "2.1", "3.0", "4.0" or empty
    QList<ContentLine> lines;   // between BEGIN and END, in file order
};

// How a .vcf file is encoded: UTF-8 (also what 8-bit files are kept in,
// byte for byte), UTF-8 with a byte-order mark, or UTF-16 with one or, as
// some exporters write it, without (told by its pattern of zero bytes).
enum class FileEncoding { Utf8, Utf8Bom, Utf16LE, Utf16BE, Utf16LENoBom, Utf16BENoBom };

// A .vcf file held as its text plus the parsed cards. Edits splice new bytes in
// place of a line and parse that card again; every byte not named by an edit stays, and
// the file is written back in its own encoding, with its byte-order mark.
// Text that is not a well-formed card (no BEGIN/END pair) is never exposed and
// never touched.
//
// A file held only for its contacts' later edits or export can be released:
// it then keeps the places of its cards and a digest of its bytes, and reads
// itself again when it is needed, only while the file on disk is still the
// one it read. Of the released files that were read again, only the last one
// stays in memory, so a large folder is never held whole.
class VCardFile : public std::enable_shared_from_this<VCardFile> {
public:
    enum class Parse { Lines, CardsOnly };
    static std::shared_ptr<VCardFile> load(const QString &path); // throws HostError
    // bytes as the file holds them, in any of the encodings above. With
    // CardsOnly, only the cards' places are found: parsedCard() gives each
    // card's lines on its own, so a large file is never parsed whole at once.
    static std::shared_ptr<VCardFile> fromBytes(const QString &path, const QByteArray &bytes,
                                                Parse parse = Parse::Lines);
    // One card with its lines.
    VCardCard parsedCard(int card) const;
    // Parses the lines of one card in place (reading a released file again).
    void ensureLines(int card);
    // Frees the text and the parsed lines, keeping the cards' places and a
    // digest of the file's bytes.
    void release();
    // Reads a released file again; throws HostError when it cannot be read
    // or was changed by another program since it was read.
    void ensureLoaded();
    // Takes other's text as this file's own after other was saved; the
    // parsed lines are dropped.
    void replaceWith(const VCardFile &other);

    const QString &path() const { return m_path; }
    // The text the cards are parsed from: UTF-8, or the file's 8-bit bytes.
    const QByteArray &text() const { return m_bytes; }
    FileEncoding encoding() const { return m_encoding; }
    // The text as the file holds it: its encoding and byte-order mark.
    QByteArray fileBytes() const;
    const QList<VCardCard> &cards() const { return m_cards; }
    QByteArray cardBytes(int card) const;

    void replaceLine(int card, int line, const QByteArray &text); // text without terminator
    void insertLine(int card, const QByteArray &text);            // before END:VCARD
    void removeLine(int card, int line);
    // Forgets the parsed lines and keeps each card's place: for a file held
    // only to copy its cards or to reload it. An edit parses again.
    void dropLines();
    // Writes the file atomically, only while it still holds what was read
    // (or last saved) here; a file changed by another program meanwhile is
    // left as it is, and HostError says so. A UTF-16 file that would not
    // read back as it was (broken surrogates) is never rewritten.
    void save();

private:
    static QList<VCardCard> parseCards(const QByteArray &text, qsizetype from, qsizetype to, Parse parse,
                                       const QByteArray &charset);
    void setFileBytes(const QByteArray &bytes);
    // The code page of the values that declare no charset and are no UTF-8,
    // or empty when there are none.
    static QByteArray undeclaredCharset(const QByteArray &text);
    void keepAsLastLoaded(); // releases the file loaded before
    void parse(Parse parse = Parse::Lines);
    void splice(int card, qsizetype begin, qsizetype end, const QByteArray &with);

    QString m_path;
    QByteArray m_bytes;  // the text
    QByteArray m_onDisk; // the file's bytes as read or last saved
    FileEncoding m_encoding = FileEncoding::Utf8;
    bool m_lossless = true;
    QList<VCardCard> m_cards;
    QByteArray m_charset; // of the undeclared 8-bit values, as detected
    bool m_released = false;
    QByteArray m_digest; // of m_onDisk, while released
};

// Text value helpers.
QString unescapeText(const QString &value);
QStringList splitUnescaped(const QString &value, QChar separator);  // then unescaped each
QByteArray foldLine(const QByteArray &line, const QByteArray &eol); // 75-octet folding

} // namespace hostmail
