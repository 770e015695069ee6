#pragma once

#include <QByteArray>
#include <QString>

namespace templates {

// How a template file was encoded, so that Save writes it back the same way.
struct FileEncoding {
    QByteArray name = "UTF-8"; // as the decoders know it: "UTF-8", "windows-1252", "ISO-8859-1", "UTF-16LE"...
    bool byteOrderMark = false;
    bool declared = false; // the file names its charset in a meta element
};

struct DecodedTemplate {
    QString html;
    FileEncoding encoding;
};

// A template file's text: by its byte-order mark, else by the charset its
// meta element declares (any encoding the system's ICU knows), else UTF-8
// when the bytes are UTF-8, else windows-1252, in which templates written on
// the original platform are.
DecodedTemplate decodeTemplate(const QByteArray &bytes);

// What Save writes: html in the file's own encoding, with its byte-order
// mark, when every character fits in it; else in UTF-8 with a declared
// charset changed to utf-8, so that the declaration is always true.
QByteArray encodeTemplate(const QString &html, const FileEncoding &encoding);

} // namespace templates
