#pragma once

#include "hostmail/store/StorePaths.h"

#include <QStringList>

#include <atomic>
#include <functional>

namespace hostmail::carddav {

struct FoundAddressBook {
    QString name; // its display name, else its path
    QString path; // what AddressBook= chooses it by
};

// What bounds a sync: its whole time (0: none beyond each request's own),
// a flag another thread sets to cancel it, and whether the user agreed that
// it may delete most or all of the contacts here.
struct SyncLimits {
    int seconds = 0;
    const std::atomic_bool *cancelled = nullptr;
    bool mayDeleteMost = false;
};

struct SyncReport {
    int fetched = 0;
    int uploaded = 0;
    int deleted = 0;
    QStringList skipped; // "who: why", one a contact
    bool completed = false;
    QString found;                     // the address book's URL
    QList<FoundAddressBook> available; // the address books discovery found
    QString untrustedCertificate;      // "sha256:…" of a certificate that did not verify
    QString otherSite;                 // a site the server sent the sync to, not followed
    int withheldDeletions = 0;         // cards deleted on the server, kept here until the user agrees
    QString failure;                   // why the sync could not complete
    QString summary() const;
};

// Keeps the Contacts folder in step with the user's address book on a CardDAV
// server. The first sync fetches every card (addressbook-multiget, in
// batches); later ones ask for what changed since the server's sync token,
// or compare ETags where there is none. Cards the program changed (the dates
// the reminder run writes) go back with If-Match on their ETag; when the
// server's card changed meanwhile, the program's own lines are applied to it
// again only where the lines it touched are unchanged there, else the
// server's card stays and the contact is reported. Nothing is ever created or
// deleted on the server. A card deleted there is deleted here unless it holds
// a change not yet uploaded. The sync state (per card: href, ETag, the bytes
// last seen; the token) lives in the state folder, saved after each step, so
// an interrupted sync leaves whole files and a rerun completes. Server data
// never names a local file.
class AddressBookSync {
public:
    // With a password, that one instead of the account's own (a test of
    // what the user typed).
    explicit AddressBookSync(StorePaths paths, QString password = {});
    // Progress: done of total cards; return false to cancel.
    SyncReport run(const std::function<bool(int done, int total)> &progress = {});
    SyncLimits limits;
    // Logs in and finds the address book, changing nothing: for Test.
    SyncReport findAddressBook();

private:
    SyncReport work(const std::function<bool(int, int)> &progress, bool discoverOnly);
    StorePaths m_paths;
    QString m_password;
};

} // namespace hostmail::carddav
