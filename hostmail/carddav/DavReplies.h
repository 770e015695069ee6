#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// What a CardDAV server answers, read into plain values, and the card-level
// merge of the program's own change into a card the server changed.
namespace hostmail::carddav {

// One <response> of a multistatus, with the properties found (status 200).
struct DavResponse {
    QString href;
    QString status; // of the response itself (sync-collection: 404 for a removed card)
    QString etag;
    QByteArray addressData; // null when the reply holds none
    QString principal;
    QString home;
    QString displayName;
    bool addressBook = false;
};

struct Multistatus {
    QList<DavResponse> responses;
    QString syncToken;  // the report's own, else the collection's property
    bool valid = false; // a whole multistatus document
};

Multistatus parseMultistatus(const QByteArray &xml);

// Whether bytes are one vCard, as far as a sync needs to know before filing
// them among the contacts.
bool looksLikeVCard(const QByteArray &bytes);

// The program's change (seen -> ours) applied to theirs, the server's newer
// card; empty when a line it touched changed there too. REV counts as
// untouched by the server: it is rewritten with every change.
QByteArray reapplyChange(const QByteArray &seen, const QByteArray &ours, const QByteArray &theirs);

// The card's FN, else the fallback.
QString contactName(const QByteArray &card, const QString &fallback);
// The card's UID, or empty.
QString contactUid(const QByteArray &card);

} // namespace hostmail::carddav
