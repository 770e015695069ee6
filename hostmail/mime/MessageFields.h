#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

namespace hostmail {

struct AttachmentData {
    QString fileName;
    QString sourcePath; // the file it was read from, links resolved: what the HTML may refer to
    QString mimeType;
    QByteArray charset; // for text: the charset of content
    QByteArray content;
    QByteArray base64; // content encoded in lines of 76, or empty: made when composing
};

// What a mail item holds, ready to become a MIME message.
struct MessageFields {
    QString from;
    QString to; // ";"-separated
    QString cc;
    QString bcc;
    QString subject;
    int bodyFormat = 2;
    QString body;
    QDateTime deferredDelivery; // invalid: none
    QList<AttachmentData> attachments;
};

} // namespace hostmail
