#include "hostmail/MailItem.h"

#include "hostmail/AtomicFile.h"
#include "hostmail/Delivery.h"
#include "hostmail/HostError.h"
#include "hostmail/Maildir.h"
#include "hostmail/MimeMessage.h"

#include <QFileInfo>
#include <QMimeDatabase>

namespace hostmail {

void Attachments::Add(const QString &path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isFile())
        throw HostError(QStringLiteral("Cannot attach %1: no such file").arg(path));
    AttachmentData a;
    a.content = readWholeFile(path);
    a.fileName = info.fileName();
    static const QMimeDatabase db;
    a.mimeType = db.mimeTypeForFileNameAndData(path, a.content.left(512)).name();
    m_files.append(std::move(a));
}

QByteArray MailItem::message() const
{
    MessageFields f = m_fields;
    f.from = m_paths.from;
    f.attachments = m_attachments.files();
    return mime::compose(f);
}

QString MailItem::Save() { return Maildir(m_paths.drafts()).add(message(), QStringLiteral("DS")); }

QString MailItem::Send()
{
    const QString queued = Maildir(m_paths.outbox()).add(message());
    const QDateTime due = m_fields.deferredDelivery;
    if (due.isValid() && due > QDateTime::currentDateTime())
        return queued;
    try {
        return Delivery(m_paths).deliver(queued);
    } catch (const HostError &) {
        return queued; // stays in Outbox; cheerpost-deliver tries again
    }
}

} // namespace hostmail
