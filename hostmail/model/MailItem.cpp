#include "hostmail/model/MailItem.h"

#include "hostmail/HostError.h"
#include "hostmail/mime/MimeMessage.h"
#include "hostmail/model/Folder.h"
#include "hostmail/store/AtomicFile.h"
#include "hostmail/store/Limits.h"
#include "hostmail/store/Maildir.h"

#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>

#include <cstring>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace hostmail {

namespace {

// The last files attached, read and encoded once: a run attaches the same
// pictures to every message. A file is known by place, size and change time.
class AttachmentCache {
public:
    std::optional<AttachmentData> find(const QByteArray &key)
    {
        const std::lock_guard lock(m_mutex);
        for (const auto &[k, data] : m_entries) {
            if (k == key)
                return data;
        }
        return std::nullopt;
    }
    void keep(const QByteArray &key, const AttachmentData &data)
    {
        const std::lock_guard lock(m_mutex);
        if (m_entries.size() >= 8)
            m_entries.removeFirst();
        m_entries.append({key, data});
    }

private:
    std::mutex m_mutex;
    QList<QPair<QByteArray, AttachmentData>> m_entries;
};

} // namespace

QString attachmentProblem(const QString &path)
{
    struct stat st {};
    const QByteArray name = QFile::encodeName(path);
    if (path.isEmpty() || ::stat(name.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return QStringLiteral("no such file");
    if (st.st_size > kMaxAttachmentBytes)
        return QStringLiteral("it is %1, larger than %2 MB").arg(sizeText(st.st_size)).arg(kMaxAttachmentBytes >> 20);
    if (::access(name.constData(), R_OK) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    static const QMimeDatabase db;
    if (db.mimeTypeForFile(path).inherits(QStringLiteral("image/svg+xml")))
        return QStringLiteral("an SVG picture can carry scripts and is never mailed; save it as PNG");
    return {};
}

std::optional<QStringList>
usableAttachments(const QStringList &paths,
                  const std::function<bool(const QString &path, const QString &problem)> &leaveOut)
{
    QStringList usable;
    for (const QString &path : paths) {
        const QString problem = attachmentProblem(path);
        if (problem.isEmpty())
            usable.append(path);
        else if (!leaveOut(path, problem))
            return std::nullopt;
    }
    return usable;
}

void Attachments::Add(const QString &path)
{
    struct stat st {};
    const QByteArray name = QFile::encodeName(path);
    if (path.isEmpty() || ::stat(name.constData(), &st) != 0)
        throw HostError(QStringLiteral("Cannot attach %1: no such file").arg(path));
    // The same file, unchanged (its change time covers a new mode), was
    // checked and read for an earlier message of the run.
    QByteArray key = name + '\0';
    for (const qint64 v : {qint64(st.st_dev), qint64(st.st_ino), qint64(st.st_size), qint64(st.st_mtim.tv_sec),
                           qint64(st.st_mtim.tv_nsec), qint64(st.st_ctim.tv_sec), qint64(st.st_ctim.tv_nsec)})
        key += QByteArray::number(v) + ':';
    static AttachmentCache cache;
    if (auto known = cache.find(key)) {
        m_files.append(std::move(*known));
        return;
    }
    if (const QString problem = attachmentProblem(path); !problem.isEmpty())
        throw HostError(QStringLiteral("Cannot attach %1: %2").arg(path, problem));
    AttachmentData a;
    a.content = readWholeFile(path, kMaxAttachmentBytes);
    a.fileName = QFileInfo(path).fileName();
    a.sourcePath = QFileInfo(path).canonicalFilePath();
    static const QMimeDatabase db;
    const QMimeType type = db.mimeTypeForFileNameAndData(path, a.content.left(512));
    a.mimeType = type.name();
    if (type.inherits(QStringLiteral("text/plain")))
        a.charset = mime::textCharset(a.content);
    a.base64 = mime::base64Lines(a.content);
    if (a.content.size() == st.st_size)
        cache.keep(key, a);
    m_files.append(std::move(a));
}

QByteArray MailItem::message() const
{
    MessageFields f = m_fields;
    f.from = m_paths.from;
    f.attachments = m_attachments.files();
    return mime::compose(f);
}

QString MailItem::Save()
{
    return Maildir(m_paths.drafts()).add(message(), QStringLiteral("DS"));
}

QString MailItem::Send()
{
    const QString queued = Maildir(m_paths.outbox()).add(message());
    if (m_sent)
        *m_sent = true;
    return queued;
}

} // namespace hostmail
