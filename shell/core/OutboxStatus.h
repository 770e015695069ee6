#pragma once

#include "hostmail/delivery/Delivery.h"

namespace shell {

// One message's state as the Outbox window shows it: "Waiting", "Failed:
// why; tried again on DATE", "Held: why", "Delivered; not filed in Sent".
QString outboxStatusText(const hostmail::OutboxEntry &entry);
// When the message leaves: "now" or its date.
QString outboxDueText(const hostmail::OutboxEntry &entry, const QDateTime &now);
// The status bar's word on the Outbox when something needs the user, else empty.
QString outboxAttention(int failed, int held);
// The question before a held message is sent again.
QString sendHeldAgainQuestion(const hostmail::OutboxEntry &entry);
QString removeQuestion(const hostmail::OutboxEntry &entry);

} // namespace shell
