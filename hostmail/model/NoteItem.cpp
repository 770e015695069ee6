#include "hostmail/model/NoteItem.h"

#include "hostmail/HostError.h"
#include "hostmail/model/HostEnums.h"
#include "hostmail/store/AtomicFile.h"

namespace hostmail {

QString NoteItem::Subject() const
{
    qsizetype end = m_body.indexOf('\n');
    QByteArray first = end < 0 ? m_body : m_body.left(end);
    if (first.endsWith('\r'))
        first.chop(1);
    return QString::fromUtf8(first);
}

void NoteItem::SaveAs(const QString &path, int format) const
{
    if (format != olTXT)
        throw HostError(QStringLiteral("A note is saved as text only"));
    writeFileAtomically(path, m_body);
}

} // namespace hostmail
