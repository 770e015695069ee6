#pragma once

#include "hostmail/model/Items.h"
#include "hostmail/store/StorePaths.h"

#include <exception>

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
class Folder {
public:
    Folder(int kind, StorePaths paths) : m_kind(kind), m_paths(std::move(paths)) {}

    int kind() const { return m_kind; }
    QString path() const;
    Items items() const; // throws HostError when the folder cannot be read

private:
    Items contacts() const;
    Items calendar() const;
    Items notes() const;

    int m_kind;
    StorePaths m_paths;
};

} // namespace hostmail
