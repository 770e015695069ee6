#pragma once

#include "hostmail/model/Folder.h"

namespace hostmail {

// The "MAPI" namespace of the host: the way to its default folders.
class Namespace {
public:
    explicit Namespace(StorePaths paths) : m_paths(std::move(paths)) {}
    // olFolderContacts, olFolderCalendar or olFolderNotes; throws HostError otherwise.
    Folder GetDefaultFolder(int kind) const;

private:
    StorePaths m_paths;
};

} // namespace hostmail
