#pragma once

#include "hostmail/mime/MessageFields.h"

#include <QByteArray>
#include <QDateTime>
#include <QStringList>

#include <functional>

namespace hostmail {

// MIME messages through GMime.
namespace mime {

// A complete RFC 5322 message with LF line ends. A recipient part that is no
// address (a distribution list's name) becomes an empty group "Name:;", which
// delivery expands. CR and LF in any header value become blanks.
QByteArray compose(const MessageFields &fields);
// content in base64, in lines of 76 characters each ended by a newline.
QByteArray base64Lines(const QByteArray &content);

// The Deferred-Delivery time of a message; invalid when it has none.
QDateTime deferredDelivery(const QByteArray &message);

// Replaces every empty group in To, Cc and Bcc whose name the resolver knows by
// the addresses it gives. Returns the message unchanged when nothing matched.
using GroupResolver = std::function<QStringList(const QString &name)>;
QByteArray expandGroups(const QByteArray &message, const GroupResolver &resolver);

// The decoded text of the message's first text part (its HTML body).
QString bodyText(const QByteArray &message);

// Header value helpers, exposed for tests.
QString headerText(const QByteArray &message, const char *header);
QString headerSafe(const QString &value);

} // namespace mime
} // namespace hostmail
