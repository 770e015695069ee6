#include "hostmail/model/Namespace.h"

#include "hostmail/HostError.h"
#include "hostmail/model/HostEnums.h"

namespace hostmail {

Folder Namespace::GetDefaultFolder(int kind) const
{
    if (kind != olFolderContacts && kind != olFolderCalendar && kind != olFolderNotes)
        throw HostError(QStringLiteral("No default folder %1").arg(kind));
    return Folder(kind, m_paths);
}

} // namespace hostmail
