#include "hostmail/model/DistListItem.h"

#include "hostmail/HostError.h"
#include "hostmail/model/HostEnums.h"
#include "hostmail/store/AtomicFile.h"
#include "hostmail/vcard/VCardFile.h"

namespace hostmail {

DistListItem::DistListItem(std::shared_ptr<VCardFile> file, int card, ContactData data)
    : m_file(std::move(file)), m_card(card), m_data(std::move(data))
{
}

void DistListItem::SaveAs(const QString &path, int format) const
{
    if (format != olVCard)
        throw HostError(QStringLiteral("A distribution list is saved as vCard only"));
    m_file->ensureLoaded();
    writeFileAtomically(path, m_file->cardBytes(m_card));
}

} // namespace hostmail
