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

// A .vcf file held as its bytes plus the parsed cards. Edits splice new bytes in
// place of a line and parse again; every byte not named by an edit stays.
// Text that is not a well-formed card (no BEGIN/END pair) is never exposed and
// never touched.
class VCardFile {
public:
    static std::shared_ptr<VCardFile> load(const QString &path); // throws HostError
    static std::shared_ptr<VCardFile> fromBytes(const QString &path, const QByteArray &bytes);

    const QString &path() const { return m_path; }
    const QByteArray &bytes() const { return m_bytes; }
    const QList<VCardCard> &cards() const { return m_cards; }
    QByteArray cardBytes(int card) const;

    void replaceLine(int card, int line, const QByteArray &text); // text without terminator
    void insertLine(int card, const QByteArray &text);            // before END:VCARD
    void removeLine(int card, int line);
    // Forgets the parsed lines and keeps each card's place: for a file held
    // only to copy its cards or to reload it. An edit parses again.
    void dropLines();
    void save() const; // atomic; throws HostError

private:
    void parse();
    void splice(qsizetype begin, qsizetype end, const QByteArray &with);

    QString m_path;
    QByteArray m_bytes;
    QList<VCardCard> m_cards;
};

// Text value helpers.
QString unescapeText(const QString &value);
QStringList splitUnescaped(const QString &value, QChar separator);  // then unescaped each
QByteArray foldLine(const QByteArray &line, const QByteArray &eol); // 75-octet folding

} // namespace hostmail
