#include "hostmail/model/AppointmentItem.h"

#include "hostmail/HostError.h"
#include "hostmail/model/HostEnums.h"
#include "hostmail/store/AtomicFile.h"

namespace hostmail {

void AppointmentItem::SaveAs(const QString &path, int format) const
{
    if (format != olICal)
        throw HostError(QStringLiteral("A calendar item is saved as iCalendar only"));
    writeFileAtomically(path, m_calendar);
}

QVariant AppointmentItem::sortValue(const QString &key) const
{
    if (key == QLatin1String("[Start]"))
        return m_start;
    return Item::sortValue(key);
}

} // namespace hostmail
