#include "templates/core/TemplateEncoding.h"

#include "common/core/CharsetGuess.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringEncoder>

namespace templates {

namespace {

// A charset named in a meta element: <meta charset="..."> or the
// content="text/html; charset=..." of an http-equiv one.
const QRegularExpression &declaration()
{
    static const QRegularExpression re(QStringLiteral("(<meta\\b[^>]*?\\bcharset\\s*=\\s*[\"']?)([A-Za-z0-9._:\\-]+)"),
                                       QRegularExpression::CaseInsensitiveOption);
    return re;
}

} // namespace

DecodedTemplate decodeTemplate(const QByteArray &bytes)
{
    DecodedTemplate out;
    QByteArrayView body(bytes);
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        out.encoding = {"UTF-8", true, false};
        body = body.sliced(3);
    } else if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        out.encoding = {bytes.startsWith("\xFF\xFE") ? "UTF-16LE" : "UTF-16BE", true, false};
        body = body.sliced(2);
    } else {
        // The declaration is ASCII in every 8-bit encoding: read as Latin-1 to find it.
        const QRegularExpressionMatch m = declaration().match(QString::fromLatin1(bytes.left(4096)));
        if (m.hasMatch() && QStringDecoder(m.captured(2).toLatin1().constData()).isValid())
            out.encoding = {m.captured(2).toLatin1(), false, true};
        else
            out.encoding = {bytes.isValidUtf8() ? QByteArray("UTF-8") : common::guessEightBitCharset(bytes), false,
                            false};
    }
    QStringDecoder decoder(out.encoding.name.constData(), QStringDecoder::Flag::Stateless);
    out.html = decoder.decode(body);
    const QRegularExpressionMatch inside = declaration().match(out.html);
    out.encoding.declared = out.encoding.declared || inside.hasMatch();
    return out;
}

QByteArray encodeTemplate(const QString &html, const FileEncoding &encoding)
{
    QStringEncoder encoder(encoding.name.constData(), QStringEncoder::Flag::Stateless);
    if (encoder.isValid()) {
        QByteArray bytes = encoder.encode(html);
        if (!encoder.hasError()) {
            if (encoding.byteOrderMark)
                bytes.prepend(encoding.name == "UTF-16LE"   ? QByteArray("\xFF\xFE")
                              : encoding.name == "UTF-16BE" ? QByteArray("\xFE\xFF")
                                                            : QByteArray("\xEF\xBB\xBF"));
            return bytes;
        }
    }
    // A character the file's encoding cannot hold: UTF-8, and the declaration says so.
    QString text = html;
    text.replace(declaration(), QStringLiteral("\\1utf-8"));
    const QByteArray utf8 = text.toUtf8();
    return encoding.byteOrderMark ? "\xEF\xBB\xBF" + utf8 : utf8;
}

} // namespace templates
