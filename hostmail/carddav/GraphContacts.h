#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace hostmail::carddav {

// Microsoft Graph keeps contacts as JSON; the Contacts folder keeps them as
// vCard files the runs read. The wedding anniversary has no field in Graph's
// v1.0 contact: Outlook keeps it in a MAPI property, read and written as a
// single-value extended property.
inline constexpr char kGraphAnniversaryProperty[] = "SystemTime 0x3A41";

// The query of a contact request: the fields the vCard takes, and the
// anniversary expanded.
QString graphContactQuery();

// The vCard (3.0, CRLF) of a Graph contact: name, up to three e-mail
// addresses, birthday, anniversary, spouse, children and categories, with
// the contact's id as its UID. Empty for an object that is no contact.
QByteArray vcardFromGraph(const QJsonObject &contact);

// What a PATCH sets so that the server's contact holds the dates the local
// card holds where they differ from the card last seen: the birthday and
// the anniversary, the only fields this program writes. Empty when neither
// changed.
QJsonObject graphDatesPatch(const QByteArray &seen, const QByteArray &local);

} // namespace hostmail::carddav
