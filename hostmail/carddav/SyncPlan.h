#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

namespace hostmail::carddav {

// What the contact file of a card known from the last sync holds now.
enum class Here {
    Same,    // the bytes last seen on the server
    Changed, // a change made here (one the upload could not take up)
    Missing, // no file
};

struct KnownCard {
    QString etag;
    Here here = Here::Same;
};

// What the server says changed since the last sync: cards new or changed
// (href -> ETag) and cards gone.
struct ServerChanges {
    QMap<QString, QString> changed;
    QStringList removed;
};

// What the sync does next, decided from the cards known here and the
// server's changes alone.
struct SyncPlan {
    QMap<QString, QString> fetch; // href -> ETag: new or changed there, or missing here
    QStringList remove;           // gone there, unchanged here: the file goes
    QStringList forget;           // gone there and here: only the state forgets it
    QStringList keepHere;         // gone there, changed here: the file stays
    int withheld = 0;             // deletions waiting for the user's word; then nothing else is done
};

// Deleting most of the cards known here (more than half) waits for the
// user's word (mayDeleteMost): a server that suddenly lists little is more
// often broken, or the wrong address book, than emptied on purpose.
SyncPlan planSync(const QMap<QString, KnownCard> &known, const ServerChanges &changes, bool mayDeleteMost);

} // namespace hostmail::carddav
