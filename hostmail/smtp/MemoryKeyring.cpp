#include "hostmail/smtp/MemoryKeyring.h"

#include "hostmail/HostError.h"

#include <QByteArray>

#include <cerrno>
#include <cstring>
#include <sys/syscall.h>
#include <unistd.h>

namespace hostmail::smtp::memory {

namespace {

// From <linux/keyctl.h>, spelled here so that no keyutils library is needed.
constexpr long kUserKeyring = -4; // KEY_SPEC_USER_KEYRING
constexpr long kSetPerm = 5, kSearch = 10, kRead = 11, kInvalidate = 21;
// The holder may do everything; this user's other processes may find and
// read it; nobody else anything.
constexpr unsigned long kPermissions = 0x3f000000 | 0x00010000 | 0x00020000 | 0x00080000;
constexpr qsizetype kMaxSecret = 64 * 1024;

QByteArray description(const QString &name)
{
    return "cheerpost:" + name.toUtf8();
}

long search(const QString &name)
{
    const QByteArray d = description(name);
    return ::syscall(SYS_keyctl, kSearch, kUserKeyring, "user", d.constData(), 0L);
}

} // namespace

bool available()
{
    // A search of a name nobody keeps: "not found" when the kernel keeps keys
    // for this process, "not implemented" or "not permitted" when it does not.
    errno = 0;
    if (search(QStringLiteral("probe")) >= 0)
        return true;
    return errno == ENOKEY || errno == EKEYREVOKED || errno == EKEYEXPIRED;
}

void keep(const QString &name, const QString &secret)
{
    const QByteArray d = description(name), payload = secret.toUtf8();
    const long key =
        ::syscall(SYS_add_key, "user", d.constData(), payload.constData(), size_t(payload.size()), kUserKeyring);
    if (key < 0 || ::syscall(SYS_keyctl, kSetPerm, key, kPermissions) != 0)
        throw HostError(QStringLiteral("The password could not be kept in memory (%1)")
                            .arg(QString::fromLocal8Bit(std::strerror(errno))));
}

std::optional<QString> find(const QString &name)
{
    const long key = search(name);
    if (key < 0)
        return std::nullopt;
    QByteArray buffer(4096, Qt::Uninitialized);
    for (;;) {
        const long n = ::syscall(SYS_keyctl, kRead, key, buffer.data(), size_t(buffer.size()));
        if (n < 0)
            return std::nullopt;
        if (n <= buffer.size())
            return QString::fromUtf8(buffer.left(n));
        if (n > kMaxSecret)
            return std::nullopt;
        buffer.resize(n); // it grew meanwhile, or was long
    }
}

void forget(const QString &name)
{
    const long key = search(name);
    if (key >= 0)
        ::syscall(SYS_keyctl, kInvalidate, key);
}

} // namespace hostmail::smtp::memory
