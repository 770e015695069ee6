#pragma once

#include "hostmail/mime/MessageFields.h"

#include <QByteArray>
#include <QDateTime>
#include <QStringList>

#include <functional>
#include <memory>

namespace hostmail {

// MIME messages through GMime.
namespace mime {

// A complete RFC 5322 message with LF line ends. An HTML body goes out as
// multipart/alternative with a plain-text rendering of it; a picture the HTML
// refers to by a local file that was attached becomes an inline part of a
// multipart/related body with a Content-ID, and the HTML refers to it by
// "cid:". Every other local reference is emptied, so no path of the sender
// leaves the machine. Other attachments follow in multipart/mixed. A
// recipient part that is no address (a distribution list's name) becomes an
// empty group "Name: ;", which delivery expands. CR and LF in any header
// value become blanks.
QByteArray compose(const MessageFields &fields);
// content in base64, in lines of 76 characters each ended by a newline.
QByteArray base64Lines(const QByteArray &content);
// The charset of a text file's content: us-ascii, utf-8, utf-16 (with a
// byte-order mark) or, for other 8-bit text, windows-1252.
QByteArray textCharset(const QByteArray &content);

// The Deferred-Delivery time of a message; invalid when it has none.
QDateTime deferredDelivery(const QByteArray &message);

// What a distribution list's name stands for at delivery.
struct ListMembers {
    QStringList addresses;
    bool hidden = false; // a private list: members in the envelope only
};
using GroupResolver = std::function<ListMembers(const QString &name)>;

// A queued message made ready for the delivery command: every empty group in
// To, Cc and Bcc whose name the resolver knows is replaced by its members
// (for a hidden list the group stays and the members go to Bcc, which the
// command takes as envelope recipients and removes), and Deferred-Delivery is
// dropped.
struct Outgoing {
    QByteArray message;
    QStringList recipients;    // every address the command will deliver to
    QStringList unknownGroups; // names no list answered
    QStringList badAddresses;  // recipients taken out: no address an envelope can carry
    QString sender;            // the From address, or empty
};
// Whether an address can stand in an SMTP envelope (and a sendmail command's
// header) as it is: not empty, no control character, no angle bracket, no
// blank outside quotes. A folded or hand-made header can hold anything.
bool isEnvelopeAddress(const QString &address);
Outgoing prepareForDelivery(const QByteArray &message, const GroupResolver &resolver);

// A sender line as host.conf keeps it ("Anna Berg <anna@example.org>"): its
// address, and the line as a From header's value, encoded for the wire.
// Empty when the line holds no address an envelope can carry.
struct Mailbox {
    QString address;
    QByteArray header;
};
Mailbox mailbox(const QString &line);

// A queued message read once for all the delivery asks of it: its headers,
// when it is due, and the message made ready to go.
class QueuedMessage {
public:
    // Throws HostError when the bytes are no mail message.
    explicit QueuedMessage(const QByteArray &message);
    ~QueuedMessage();
    QueuedMessage(const QueuedMessage &) = delete;
    QueuedMessage &operator=(const QueuedMessage &) = delete;

    QString header(const char *name) const; // its raw value, or empty
    QDateTime deferredDelivery() const;     // invalid: none
    // As prepareForDelivery; the headers read afterwards are the outgoing ones.
    Outgoing prepare(const GroupResolver &resolver);

private:
    struct Parsed;
    std::unique_ptr<Parsed> m_parsed;
};

// The message with its Date header set to when (RFC 5322: the time it enters
// the delivery system); every other byte stays as it was, line ends included.
QByteArray withDate(const QByteArray &message, const QDateTime &when);

// The message with a From header of from (as mailbox() gives it) where it
// has none; a message with a From, or an empty from, stays as it is.
QByteArray withSender(const QByteArray &message, const QByteArray &from);

// The message as SMTP carries it (RFC 5321): CRLF after every line, no line
// longer than 998 octets. A part whose lines are longer is encoded anew
// (quoted-printable or base64), and a long header folded; what cannot be
// brought within the limit throws HostError, so it is never cut.
QByteArray forTransport(const QByteArray &message);

// The decoded text of the message's HTML part, or of its first text part.
QString bodyText(const QByteArray &message);
// The decoded text of its first part of type text/subtype, or empty.
QString textPart(const QByteArray &message, const char *subtype);

// Header value helpers, exposed for tests.
QString headerText(const QByteArray &message, const char *header);
QString headerSafe(const QString &value);

} // namespace mime
} // namespace hostmail
