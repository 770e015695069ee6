#pragma once

#include "hostmail/mime/MessageFields.h"
#include "hostmail/store/StorePaths.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace hostmail {

// Why the file at path cannot be attached ("no such file", "it is 30 MB,
// larger than 25 MB", "Permission denied"), or an empty text when it can.
QString attachmentProblem(const QString &path);

// The files of paths that can be attached. For each that cannot, leaveOut
// gets it and its problem: true leaves it out, false stops, and then there
// is no result.
std::optional<QStringList>
usableAttachments(const QStringList &paths,
                  const std::function<bool(const QString &path, const QString &problem)> &leaveOut);

// The attachments of a new mail item.
class Attachments {
public:
    // Reads the file now; a missing or unreadable file, or one larger than
    // kMaxAttachmentBytes, fails this call only.
    void Add(const QString &path);
    int Count() const { return static_cast<int>(m_files.size()); }
    const QList<AttachmentData> &files() const { return m_files; }

private:
    QList<AttachmentData> m_files;
};

// A new mail message. Save keeps it in Drafts; Send queues it in Outbox, where
// the delivery agent finds it on its deferred delivery time (at once when that
// has come), and tells the application object that mail was sent.
class MailItem {
public:
    explicit MailItem(StorePaths paths, std::shared_ptr<std::atomic<bool>> sent = {})
        : m_paths(std::move(paths)), m_sent(std::move(sent))
    {
    }

    void setTo(const QString &v) { m_fields.to = v; }
    void setCC(const QString &v) { m_fields.cc = v; }
    void setBCC(const QString &v) { m_fields.bcc = v; }
    void setSubject(const QString &v) { m_fields.subject = v; }
    void setBodyFormat(int v) { m_fields.bodyFormat = v; }
    void setHTMLBody(const QString &v) { m_fields.body = v; }
    void setDeferredDeliveryTime(const QDateTime &v) { m_fields.deferredDelivery = v; }
    QString To() const { return m_fields.to; }
    QString CC() const { return m_fields.cc; }
    QString BCC() const { return m_fields.bcc; }
    QString Subject() const { return m_fields.subject; }
    QString HTMLBody() const { return m_fields.body; }
    QDateTime DeferredDeliveryTime() const { return m_fields.deferredDelivery; }
    Attachments &attachments() { return m_attachments; }

    QString Save(); // returns the draft's file; throws HostError
    QString Send(); // returns where the message is now; throws HostError when it cannot be queued

private:
    QByteArray message() const;
    StorePaths m_paths;
    std::shared_ptr<std::atomic<bool>> m_sent;
    MessageFields m_fields;
    Attachments m_attachments;
};

} // namespace hostmail
