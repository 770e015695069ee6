#include "hostmail/vcard/VCardFile.h"

#include "common/core/CharsetGuess.h"
#include "hostmail/HostError.h"
#include "hostmail/store/AtomicFile.h"
#include "hostmail/store/Limits.h"

#include <QCryptographicHash>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QVarLengthArray>

#include <cstring>
#include <mutex>
#include <optional>

namespace hostmail {

namespace {

bool equalsNoCase(QByteArrayView a, const char *b)
{
    return a.compare(QByteArrayView(b), Qt::CaseInsensitive) == 0;
}

QByteArray unquote(QByteArray v)
{
    if (v.size() >= 2 && v.startsWith('"') && v.endsWith('"'))
        return v.mid(1, v.size() - 2);
    return v;
}

// Index of the first ':' that is not inside a quoted parameter value.
qsizetype valueColon(const QByteArray &line)
{
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char c = line.at(i);
        if (c == '"')
            quoted = !quoted;
        else if (c == ':' && !quoted)
            return i;
    }
    return -1;
}

bool isQuotedPrintablePrefix(const QByteArray &prefix)
{
    if (!prefix.contains('Q') && !prefix.contains('q'))
        return false; // most lines: no upper-case copy needed
    return prefix.contains("QUOTED-PRINTABLE") || prefix.toUpper().contains("QUOTED-PRINTABLE");
}

void parsePrefix(ContentLine &line)
{
    const QByteArray &p = line.prefix;
    qsizetype i = 0;
    qsizetype nameEnd = p.size();
    bool quoted = false;
    QVarLengthArray<qsizetype, 8> cuts;
    for (; i < p.size(); ++i) {
        const char c = p.at(i);
        if (c == '"')
            quoted = !quoted;
        else if (c == ';' && !quoted)
            cuts.append(i);
    }
    if (!cuts.isEmpty())
        nameEnd = cuts.front();
    QByteArray fullName = p.left(nameEnd);
    const qsizetype dot = fullName.lastIndexOf('.');
    if (dot >= 0) {
        line.group = fullName.left(dot);
        fullName = fullName.mid(dot + 1);
    }
    line.name = fullName.trimmed().toUpper();
    cuts.append(p.size());
    for (qsizetype k = 0; k + 1 < cuts.size(); ++k) {
        const QByteArray part = p.mid(cuts[k] + 1, cuts[k + 1] - cuts[k] - 1);
        const qsizetype eq = part.indexOf('=');
        if (eq < 0) {
            const QByteArray bare = part.trimmed().toUpper();
            if (bare == "QUOTED-PRINTABLE" || bare == "BASE64" || bare == "8BIT" || bare == "7BIT")
                line.params.append({"ENCODING", bare});
            else
                line.params.append({"TYPE", bare});
        } else {
            line.params.append({part.left(eq).trimmed().toUpper(), unquote(part.mid(eq + 1))});
        }
    }
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(c | 0x20);
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

QByteArray decodeQuotedPrintable(const QByteArray &in)
{
    QByteArray out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        const char c = in.at(i);
        if (c == '=' && i + 2 < in.size()) {
            const int hi = hexDigit(in.at(i + 1));
            const int lo = hexDigit(in.at(i + 2));
            if (hi >= 0 && lo >= 0) {
                out.append(static_cast<char>(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        if (c == '=' && i == in.size() - 1)
            break; // a soft break left at the very end
        out.append(c);
    }
    return out;
}

// A large file's cards share these instead of holding a copy each.
const QByteArray kCrLf = QByteArrayLiteral("\r\n");
const QByteArray kLf = QByteArrayLiteral("\n");

QByteArray sharedVersion(const QByteArray &version)
{
    static const QByteArray known[] = {QByteArrayLiteral("2.1"), QByteArrayLiteral("3.0"), QByteArrayLiteral("4.0")};
    for (const QByteArray &k : known) {
        if (version == k)
            return k;
    }
    return version;
}

// Whether every run of quoted-printable escapes of 8-bit bytes ("=C3=A9")
// in the text is UTF-8: then no value needs a code page. Soft line breaks
// inside a run are passed over; text that only looks like an escape makes
// the answer no, which costs a closer look, never a wrong reading.
bool escapedBytesAreUtf8(const QByteArray &text)
{
    QByteArray run;
    const qsizetype n = text.size();
    const char *const bytes = text.constData();
    for (qsizetype i = 0; i < n; ++i) {
        if (run.isEmpty() && bytes[i] != '=') { // to the next escape at once
            const void *next = std::memchr(bytes + i, '=', size_t(n - i));
            if (!next)
                break;
            i = static_cast<const char *>(next) - bytes;
        }
        if (text.at(i) == '=' && i + 2 < n && hexDigit(text.at(i + 1)) >= 0 && hexDigit(text.at(i + 2)) >= 0) {
            const int byte = hexDigit(text.at(i + 1)) * 16 + hexDigit(text.at(i + 2));
            i += 2;
            if (byte >= 0x80) {
                run.append(char(byte));
                continue;
            }
        } else if (text.at(i) == '=' && (text.mid(i + 1, 2) == "\r\n" || text.mid(i + 1, 1) == "\n")) {
            i += text.at(i + 1) == '\r' ? 2 : 1;
            continue;
        }
        if (!run.isEmpty() && !run.isValidUtf8())
            return false;
        run.clear();
    }
    return run.isValidUtf8();
}

} // namespace

bool ContentLine::hasParam(const char *paramName, const char *wanted) const
{
    for (const auto &[k, v] : params) {
        if (k != paramName)
            continue;
        for (const QByteArray &one : v.split(',')) {
            if (equalsNoCase(unquote(one.trimmed()), wanted))
                return true;
        }
    }
    return false;
}

QByteArray ContentLine::param(const char *paramName) const
{
    for (const auto &[k, v] : params) {
        if (k == paramName)
            return v;
    }
    return {};
}

QString ContentLine::value() const
{
    QByteArray bytes = rawValue;
    if (hasParam("ENCODING", "QUOTED-PRINTABLE"))
        bytes = decodeQuotedPrintable(bytes);
    const QByteArray charset = param("CHARSET");
    if (!charset.isEmpty() && !equalsNoCase(charset, "UTF-8")) {
        QStringDecoder decoder(charset.constData());
        if (decoder.isValid())
            return decoder.decode(bytes);
    }
    // Without a charset: UTF-8, or, when the bytes are no UTF-8, the 8-bit
    // code page most exporters of such files used.
    if (bytes.isValidUtf8())
        return QString::fromUtf8(bytes);
    QStringDecoder eightBit(fileCharset.isEmpty() ? "windows-1252" : fileCharset.constData());
    return eightBit.isValid() ? QString(eightBit.decode(bytes)) : QString::fromLatin1(bytes);
}

std::shared_ptr<VCardFile> VCardFile::load(const QString &path)
{
    return fromBytes(path, readWholeFile(path, kMaxAddressBookBytes));
}

std::shared_ptr<VCardFile> VCardFile::fromBytes(const QString &path, const QByteArray &bytes, Parse parse)
{
    auto file = std::make_shared<VCardFile>();
    file->m_path = path;
    file->setFileBytes(bytes);
    file->parse(parse);
    return file;
}

namespace {

// UTF-16 without a byte-order mark, as some exporters write it: in the first
// bytes, nearly every other byte is zero (the high bytes of ASCII letters).
std::optional<FileEncoding> bomlessUtf16(const QByteArray &bytes)
{
    const qsizetype n = qMin<qsizetype>(bytes.size(), 512) & ~qsizetype(1);
    if (n < 16 || bytes.size() % 2 != 0)
        return std::nullopt;
    int evenZero = 0, oddZero = 0;
    for (qsizetype i = 0; i < n; i += 2) {
        evenZero += bytes.at(i) == 0 ? 1 : 0;
        oddZero += bytes.at(i + 1) == 0 ? 1 : 0;
    }
    const int pairs = int(n / 2);
    if (oddZero * 10 >= pairs * 9 && evenZero * 10 < pairs)
        return FileEncoding::Utf16LENoBom;
    if (evenZero * 10 >= pairs * 9 && oddZero * 10 < pairs)
        return FileEncoding::Utf16BENoBom;
    return std::nullopt;
}

} // namespace

void VCardFile::setFileBytes(const QByteArray &bytes)
{
    m_onDisk = bytes;
    m_lossless = true;
    m_charset.clear();
    std::optional<FileEncoding> utf16;
    if (bytes.startsWith("\xFF\xFE"))
        utf16 = FileEncoding::Utf16LE;
    else if (bytes.startsWith("\xFE\xFF"))
        utf16 = FileEncoding::Utf16BE;
    else if (!bytes.startsWith("\xEF\xBB\xBF"))
        utf16 = bomlessUtf16(bytes);
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        m_encoding = FileEncoding::Utf8Bom;
        m_bytes = bytes.mid(3);
    } else if (utf16) {
        m_encoding = *utf16;
        const bool little = m_encoding == FileEncoding::Utf16LE || m_encoding == FileEncoding::Utf16LENoBom;
        const bool bom = m_encoding == FileEncoding::Utf16LE || m_encoding == FileEncoding::Utf16BE;
        QStringDecoder decoder(little ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE,
                               QStringDecoder::Flag::Stateless);
        const QString text = decoder.decode(QByteArrayView(bytes).sliced(bom ? 2 : 0));
        m_bytes = text.toUtf8();
        m_lossless = !decoder.hasError() && fileBytes() == bytes;
    } else {
        m_encoding = FileEncoding::Utf8;
        m_bytes = bytes;
    }
    m_charset = undeclaredCharset(m_bytes);
}

QByteArray VCardFile::undeclaredCharset(const QByteArray &text)
{
    // 8-bit values without a CHARSET: in the file's own bytes, or, as older
    // exporters wrote them, inside quoted-printable in an ASCII file.
    if (text.isValidUtf8() && escapedBytesAreUtf8(text))
        return {};
    // The values of the first megabyte's cards, decoded, are read together:
    // the code page is told by all of the file's text, not by one name.
    constexpr qsizetype kSample = 1024 * 1024;
    QByteArray sample;
    for (const VCardCard &card : parseCards(text, 0, qMin(text.size(), kSample), Parse::Lines, {})) {
        for (const ContentLine &line : card.lines) {
            if (!line.param("CHARSET").isEmpty())
                continue;
            const QByteArray value =
                line.hasParam("ENCODING", "QUOTED-PRINTABLE") ? decodeQuotedPrintable(line.rawValue) : line.rawValue;
            if (!value.isValidUtf8())
                sample += value + '\n';
        }
    }
    return sample.isEmpty() ? QByteArray() : common::guessEightBitCharset(sample);
}

namespace {

QByteArray digestOf(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

// The released files read again: only the last one is kept in memory.
std::mutex g_loadedMutex;
std::weak_ptr<VCardFile> g_loaded;

} // namespace

void VCardFile::release()
{
    if (m_released)
        return;
    m_digest = digestOf(m_onDisk);
    m_bytes = QByteArray();
    m_onDisk = QByteArray();
    for (VCardCard &card : m_cards)
        card.lines = {};
    m_released = true;
}

void VCardFile::ensureLoaded()
{
    if (!m_released)
        return;
    const QByteArray bytes = readWholeFile(m_path, kMaxAddressBookBytes);
    if (digestOf(bytes) != m_digest)
        throw HostError(
            QStringLiteral("%1 was changed by another program since it was read; it was not changed").arg(m_path));
    setFileBytes(bytes);
    parse();
    m_released = false;
    keepAsLastLoaded();
}

void VCardFile::replaceWith(const VCardFile &other)
{
    m_bytes = other.m_bytes;
    m_onDisk = other.m_onDisk;
    m_encoding = other.m_encoding;
    m_lossless = other.m_lossless;
    m_charset = other.m_charset;
    m_cards = other.m_cards;
    m_released = false;
    dropLines();
    keepAsLastLoaded();
}

void VCardFile::keepAsLastLoaded()
{
    std::shared_ptr<VCardFile> previous;
    {
        const std::lock_guard lock(g_loadedMutex);
        previous = g_loaded.lock();
        g_loaded = weak_from_this();
    }
    if (previous && previous.get() != this)
        previous->release();
}

QByteArray VCardFile::fileBytes() const
{
    switch (m_encoding) {
    case FileEncoding::Utf8:
        return m_bytes;
    case FileEncoding::Utf8Bom:
        return "\xEF\xBB\xBF" + m_bytes;
    case FileEncoding::Utf16LE:
    case FileEncoding::Utf16BE:
    case FileEncoding::Utf16LENoBom:
    case FileEncoding::Utf16BENoBom: {
        const bool little = m_encoding == FileEncoding::Utf16LE || m_encoding == FileEncoding::Utf16LENoBom;
        const bool bom = m_encoding == FileEncoding::Utf16LE || m_encoding == FileEncoding::Utf16BE;
        QStringEncoder encoder(little ? QStringEncoder::Utf16LE : QStringEncoder::Utf16BE,
                               QStringEncoder::Flag::Stateless);
        const QByteArray text = encoder.encode(QString::fromUtf8(m_bytes));
        return bom ? QByteArray(little ? "\xFF\xFE" : "\xFE\xFF") + text : text;
    }
    }
    return m_bytes;
}

VCardCard VCardFile::parsedCard(int card) const
{
    const VCardCard &c = m_cards.at(card);
    if (!c.lines.isEmpty() || m_released)
        return c;
    const QList<VCardCard> one = parseCards(m_bytes, c.begin, c.end, Parse::Lines, m_charset);
    return one.isEmpty() ? c : one.first();
}

void VCardFile::parse(Parse parse)
{
    m_cards = parseCards(m_bytes, 0, m_bytes.size(), parse, m_charset);
}

QList<VCardCard> VCardFile::parseCards(const QByteArray &b, qsizetype from, qsizetype n, Parse parse,
                                       const QByteArray &charset)
{
    QList<VCardCard> cards;

    // Physical lines: [start, contentEnd) and the next line's start.
    struct Physical {
        qsizetype start, contentEnd, next;
        bool crlf;
    };
    auto physicalAt = [&](qsizetype start) {
        qsizetype nl = b.indexOf('\n', start);
        Physical p{start, nl < 0 ? n : nl, nl < 0 ? n : nl + 1, false};
        if (p.contentEnd > start && b.at(p.contentEnd - 1) == '\r') {
            --p.contentEnd;
            p.crlf = true;
        }
        return p;
    };

    VCardCard card;
    bool inCard = false;
    int depth = 0;
    qsizetype pos = from;
    while (pos < n) {
        Physical first = physicalAt(pos);
        QByteArray logical = b.mid(first.start, first.contentEnd - first.start);
        qsizetype next = first.next;
        const bool qp = isQuotedPrintablePrefix(logical.left(qMax<qsizetype>(0, valueColon(logical))));
        while (next < n) {
            const char c = b.at(next);
            if (c == ' ' || c == '\t') {
                Physical cont = physicalAt(next);
                logical.append(b.constData() + cont.start + 1, cont.contentEnd - cont.start - 1);
                next = cont.next;
            } else if (qp && logical.endsWith('=')) {
                Physical cont = physicalAt(next);
                logical.chop(1);
                logical.append(b.constData() + cont.start, cont.contentEnd - cont.start);
                next = cont.next;
            } else {
                break;
            }
        }
        const QByteArrayView trimmed = QByteArrayView(logical).trimmed();
        if (!inCard) {
            if (equalsNoCase(trimmed, "BEGIN:VCARD")) {
                card = VCardCard();
                card.begin = first.start;
                if (parse == Parse::Lines)
                    card.lines.reserve(16);
                card.eol = first.crlf || first.next == n ? kCrLf : kLf;
                inCard = true;
                depth = 0;
            }
        } else if (equalsNoCase(trimmed, "BEGIN:VCARD")) {
            ++depth; // an embedded card (2.1 AGENT): its lines are not ours
        } else if (equalsNoCase(trimmed, "END:VCARD")) {
            if (depth > 0) {
                --depth;
            } else {
                card.endLineBegin = first.start;
                card.end = next;
                cards.append(card);
                inCard = false;
            }
        } else if (depth == 0 && (parse == Parse::Lines || card.version.isEmpty())) {
            const qsizetype colon = valueColon(logical);
            if (colon > 0) {
                ContentLine line;
                line.begin = first.start;
                line.end = next;
                line.prefix = logical.left(colon);
                line.rawValue = logical.mid(colon + 1);
                line.fileCharset = charset;
                parsePrefix(line);
                if (line.name == "VERSION")
                    card.version = sharedVersion(line.rawValue.trimmed());
                if (parse == Parse::Lines)
                    card.lines.append(std::move(line));
            }
        }
        pos = next;
    }
    return cards;
}

QByteArray VCardFile::cardBytes(int card) const
{
    const VCardCard &c = m_cards.at(card);
    return m_bytes.mid(c.begin, c.end - c.begin);
}

void VCardFile::ensureLines(int card)
{
    ensureLoaded();
    VCardCard &c = m_cards[card];
    if (c.lines.isEmpty())
        c = parsedCard(card);
}

void VCardFile::splice(int card, qsizetype begin, qsizetype end, const QByteArray &with)
{
    // Only the edited card is parsed again; the cards after it move.
    m_bytes.replace(begin, end - begin, with);
    const qsizetype delta = with.size() - (end - begin);
    VCardCard &edited = m_cards[card];
    const QList<VCardCard> again = parseCards(m_bytes, edited.begin, edited.end + delta, Parse::Lines, m_charset);
    if (again.size() != 1) { // the edit changed the card's frame: every card is found anew
        parse();
        return;
    }
    edited = again.first();
    for (qsizetype i = card + 1; i < m_cards.size(); ++i) {
        VCardCard &c = m_cards[i];
        c.begin += delta;
        c.end += delta;
        c.endLineBegin += delta;
        for (ContentLine &line : c.lines) {
            line.begin += delta;
            line.end += delta;
        }
    }
}

void VCardFile::replaceLine(int card, int line, const QByteArray &text)
{
    ensureLines(card);
    const VCardCard &c = m_cards.at(card);
    const ContentLine &l = c.lines.at(line);
    // Keep the line's own terminator, or the card's when the line had none.
    QByteArray eol = c.eol;
    const QByteArray old = m_bytes.mid(l.begin, l.end - l.begin);
    if (old.endsWith("\r\n"))
        eol = "\r\n";
    else if (old.endsWith('\n'))
        eol = "\n";
    splice(card, l.begin, l.end, foldLine(text, eol) + eol);
}

void VCardFile::insertLine(int card, const QByteArray &text)
{
    ensureLines(card);
    const VCardCard &c = m_cards.at(card);
    splice(card, c.endLineBegin, c.endLineBegin, foldLine(text, c.eol) + c.eol);
}

void VCardFile::removeLine(int card, int line)
{
    ensureLines(card);
    const ContentLine &l = m_cards.at(card).lines.at(line);
    splice(card, l.begin, l.end, QByteArray());
}

void VCardFile::dropLines()
{
    for (VCardCard &card : m_cards)
        card.lines = {};
}

void VCardFile::save()
{
    if (!m_lossless)
        throw HostError(QStringLiteral("%1 cannot be written back without loss; it was not changed").arg(m_path));
    const QByteArray now = fileBytes();
    replaceFileIfUnchanged(m_path, m_onDisk, now);
    m_onDisk = now;
}

QString unescapeText(const QString &value)
{
    if (!value.contains(QLatin1Char('\\')))
        return value;
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c == QLatin1Char('\\') && i + 1 < value.size()) {
            const QChar e = value.at(++i);
            if (e == QLatin1Char('n') || e == QLatin1Char('N'))
                out.append(QLatin1Char('\n'));
            else
                out.append(e);
        } else {
            out.append(c);
        }
    }
    return out;
}

QStringList splitUnescaped(const QString &value, QChar separator)
{
    QStringList parts;
    QString current;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c == QLatin1Char('\\') && i + 1 < value.size()) {
            current.append(c);
            current.append(value.at(++i));
        } else if (c == separator) {
            parts.append(unescapeText(current));
            current.clear();
        } else {
            current.append(c);
        }
    }
    parts.append(unescapeText(current));
    return parts;
}

QByteArray foldLine(const QByteArray &line, const QByteArray &eol)
{
    constexpr qsizetype limit = 75;
    if (line.size() <= limit)
        return line;
    QByteArray out;
    qsizetype pos = 0;
    qsizetype width = limit;
    while (pos < line.size()) {
        qsizetype take = qMin(width, line.size() - pos);
        // Never cut inside a UTF-8 sequence.
        while (take > 1 && pos + take < line.size() && (static_cast<unsigned char>(line.at(pos + take)) & 0xC0) == 0x80)
            --take;
        if (pos > 0) {
            out.append(eol);
            out.append(' ');
        }
        out.append(line.constData() + pos, take);
        pos += take;
        width = limit - 1;
    }
    return out;
}

} // namespace hostmail
