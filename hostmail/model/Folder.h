#pragma once

#include "hostmail/model/Items.h"
#include "hostmail/store/StorePaths.h"

#include <exception>
#include <functional>

namespace common {
class RunReport;
}

namespace hostmail {

// Names each file of the folder that gave no items in a run's report, as
// skipped with its reason; returns how many there were.
int reportSkippedFiles(const Items &items, common::RunReport &report);

// Why a run found no contacts: the store could not be opened, or, once
// opened, its contacts could not be read.
QString noContactsReason(bool storeOpened, const std::exception &error);

// A file size for people: "300 MB", "12 KB", "80 bytes".
QString sizeText(qint64 bytes);

// A default folder of the store (olFolderContacts, olFolderCalendar or
// olFolderNotes). Items() reads the folder afresh on every call.
struct ContactData;

// Which contacts a run keeps: the others are read, counted and let go, so a
// run over a large address book holds only the contacts it uses. Called
// from several reading threads at once.
using ContactFilter = std::function<bool(const ContactData &)>;

class Folder {
public:
    Folder(int kind, StorePaths paths) : m_kind(kind), m_paths(std::move(paths)) {}

    int kind() const { return m_kind; }
    QString path() const;
    Items items() const; // throws HostError when the folder cannot be read
    // The contacts that keep() accepts, and every distribution list.
    Items items(const ContactFilter &keep) const;

private:
    Items contacts(const ContactFilter &keep) const;
    Items calendar() const;
    Items notes() const;

    int m_kind;
    StorePaths m_paths;
};

} // namespace hostmail
