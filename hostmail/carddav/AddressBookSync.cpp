#include "hostmail/carddav/AddressBookSync.h"

#include "hostmail/carddav/DavReplies.h"
#include "hostmail/carddav/GraphContacts.h"
#include "hostmail/carddav/SyncPlan.h"

#include "hostmail/HostError.h"
#include "hostmail/net/Http.h"
#include "hostmail/net/Tls.h"
#include "hostmail/signin/SignIn.h"
#include "hostmail/smtp/SmtpSession.h"
#include "hostmail/store/AtomicFile.h"
#include "hostmail/store/Limits.h"
#include "hostmail/store/WriteBatch.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QThread>
#include <QUrl>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace hostmail::carddav {

namespace {

constexpr qint64 kMaxReplyBytes = 64LL * 1024 * 1024; // one reply of the server, at most
constexpr qint64 kMaxCardBytes = 1024 * 1024;         // one card, at most
constexpr int kBatch = 100;                           // cards a multiget asks for
constexpr int kThrottleRetries = 5;                   // a throttled request is tried again this often
constexpr int kMaxRetryAfterSeconds = 120;            // the longest wait a server's Retry-After gets
constexpr int kStateVersion = 1;                      // of carddav-state.json; a newer one is left alone
constexpr int kLockWaitSeconds = 120;                 // for another sync to end, where the sync has no bound

QString hashOf(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QString xmlEscaped(const QString &text)
{
    return text.toHtmlEscaped();
}

using net::Http;
using net::Reply;

QByteArray propfindBody(const QString &props)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<d:propfind xmlns:d=\"DAV:\" "
                          "xmlns:c=\"urn:ietf:params:xml:ns:carddav\"><d:prop>%1</d:prop></d:propfind>")
        .arg(props)
        .toUtf8();
}

// A JSON string of text: quotes, backslashes and control characters escaped.
QByteArray jsonString(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size() + 2);
    out += '"';
    for (const char c : utf8) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            out += "\\u00";
            out += "0123456789abcdef"[(c >> 4) & 0xf];
            out += "0123456789abcdef"[c & 0xf];
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

struct Card {
    QString file;
    QString etag;
    QString hash;  // of the bytes last seen on the server, which the state keeps
    QString stamp; // the file's size, times and inode when it last held those bytes
};

// What stat says of a file, changed by any write to it or any file put in
// its place; empty when there is none.
QString fileStamp(const QString &path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    return QStringLiteral("%1 %2.%3 %4.%5 %6")
        .arg(qlonglong(st.st_size))
        .arg(qlonglong(st.st_mtim.tv_sec))
        .arg(qlonglong(st.st_mtim.tv_nsec))
        .arg(qlonglong(st.st_ctim.tv_sec))
        .arg(qlonglong(st.st_ctim.tv_nsec))
        .arg(qulonglong(st.st_ino));
}

class Sync {
public:
    Sync(const StorePaths &paths, const std::function<bool(int, int)> &progress, SyncReport &report, bool discoverOnly,
         const SyncLimits &limits)
        : m_paths(paths), m_progress(progress), m_report(report), m_discoverOnly(discoverOnly), m_limits(limits)
    {
    }

    ~Sync()
    {
        if (m_lock >= 0)
            ::close(m_lock); // and with it the lock
    }

    void run(const QString &password)
    {
        steps(password);
        if (m_http) {
            m_report.untrustedCertificate = m_http->untrustedCertificate();
            m_report.otherSite = m_http->otherSite();
        }
    }

private:
    void steps(QString password)
    {
        try {
            if (password.isEmpty())
                password = signin::loginSecret(m_paths, m_paths.cardDav);
        } catch (const HostError &e) {
            return fail(QString::fromUtf8(e.what()));
        }
        const QUrl start(m_paths.cardDav.url);
        if (start.scheme() != QLatin1String("https") &&
            !(start.scheme() == QLatin1String("http") && net::isLoopback(start.host()))) {
            return fail(QStringLiteral("The address book server's address must begin with https:// (plain http is "
                                       "only allowed to this computer's own address): %1")
                            .arg(start.toString(QUrl::RemoveUserInfo)));
        }
        net::HttpAccount account;
        account.site = start.host();
        account.allowedSite = m_paths.cardDav.allowedSite;
        account.caFile = m_paths.cardDav.caFile;
        account.trustedCertificate = m_paths.cardDav.trustedCertificate;
        account.user = m_paths.cardDav.user;
        account.secret = password;
        account.bearer = !m_paths.cardDav.signIn.isEmpty();
        m_http = std::make_unique<Http>(
            account, m_limits.seconds > 0 ? QDeadlineTimer(qint64(m_limits.seconds) * 1000) : QDeadlineTimer::Forever,
            m_limits.cancelled, kMaxReplyBytes);
        if (m_discoverOnly) { // asks the server every time: the test of an account
            QUrl book;
            if (findBook(&book)) {
                m_report.found = book.toString(QUrl::RemoveUserInfo);
                m_report.completed = true;
            }
            return;
        }
        if (!lockState() || !loadState())
            return;
        const QString choice = m_paths.cardDav.kind + QLatin1Char('\n') + m_paths.cardDav.url + QLatin1Char('\n') +
                               m_paths.cardDav.addressBook;
        if (choice != m_choice) { // another account or address book chosen: found again
            m_book.clear();
            m_choice = choice;
        }
        QUrl book(m_book);
        if (m_paths.cardDav.graph() && !book.path().endsWith(QLatin1String("/delta")))
            book.clear(); // an empty default folder: looked for again, it may hold contacts now
        if (book.isEmpty() && !findBook(&book))
            return;
        if (book.toString() != m_book) {
            // Another address book, or the same one under another address:
            // its cards take over the files of the cards known here that
            // have their UIDs, and the rest go once it is whole here.
            for (auto it = m_cards.cbegin(); it != m_cards.cend(); ++it)
                m_previous.insert(it.key(), *it);
            m_cards.clear();
            m_token.clear();
            m_book = book.toString();
        }
        m_bookUrl = book;
        makeFolder(m_paths.contacts);
        makeFolder(seenFolder());
        uploadChanges();
        saveState();
        removeStaleSeen();
        if (!m_report.failure.isEmpty())
            return;
        QMap<QString, QString> changed; // href -> etag
        QStringList removed;
        if (m_paths.cardDav.graph() ? !changesByDelta(&changed, &removed)
                                    : !changesSinceToken(&changed, &removed) && !changesByListing(&changed, &removed))
            return;
        QMap<QString, KnownCard> known;
        for (auto it = m_cards.cbegin(); it != m_cards.cend(); ++it)
            known.insert(it.key(), {it->etag, m_here.value(it.key(), Here::Same)});
        const SyncPlan plan = planSync(known, {changed, removed}, m_limits.mayDeleteMost);
        if (plan.withheld > 0)
            return withholdDeletions(plan.withheld);
        if (!fetch(plan.fetch))
            return;
        removeDeleted(plan.remove + plan.forget + plan.keepHere);
        removePrevious();
        m_token = m_newToken;
        saveState();
        removeStaleSeen();
        m_report.completed = m_report.failure.isEmpty();
    }

    void fail(const QString &why)
    {
        if (m_report.failure.isEmpty())
            m_report.failure = why;
    }

    // Where discovery starts: the address book's own URL when it is given
    // as one, else the account's URL.
    QUrl chosenStart() const
    {
        const QString chosen = m_paths.cardDav.addressBook;
        return QUrl(chosen.startsWith(QLatin1String("http://")) || chosen.startsWith(QLatin1String("https://"))
                        ? chosen
                        : m_paths.cardDav.url);
    }

    QString stateFile() const { return m_paths.state + QLatin1String("/carddav-state.json"); }
    QString seenFolder() const { return m_paths.state + QLatin1String("/carddav-seen"); }
    QString seenFile(const QString &hash) const { return seenFolder() + QLatin1Char('/') + hash + ".vcf"; }
    QString localPath(const Card &c) const { return m_paths.contacts + QLatin1Char('/') + c.file; }

    // One sync at a time on the state (the window's and the delivery agent's
    // may start together): the later one waits for the earlier to end,
    // within its own time bound, and then reads the state that one left.
    bool lockState()
    {
        try {
            makeFolder(m_paths.state);
        } catch (const HostError &e) {
            fail(QString::fromUtf8(e.what()));
            return false;
        }
        const QByteArray lockFile = QFile::encodeName(m_paths.state + QLatin1String("/carddav-state.lock"));
        m_lock = ::open(lockFile.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_lock < 0) {
            fail(QStringLiteral("Cannot open %1: %2")
                     .arg(QFile::decodeName(lockFile), QString::fromLocal8Bit(std::strerror(errno))));
            return false;
        }
        const QDeadlineTimer deadline(qint64(m_limits.seconds > 0 ? m_limits.seconds : kLockWaitSeconds) * 1000);
        while (::flock(m_lock, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR) {
                fail(QStringLiteral("Cannot lock the address book's sync state: %1")
                         .arg(QString::fromLocal8Bit(std::strerror(errno))));
                return false;
            }
            if ((m_limits.cancelled && m_limits.cancelled->load()) || deadline.hasExpired()) {
                fail(QStringLiteral("Another sync of the address book (in the window or the delivery agent) is "
                                    "still running; this one stopped waiting for it"));
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return true;
    }

    // False, with the reason, for a state this version cannot read: it is
    // left as it is, since a sync on an empty state would fetch every card
    // again beside the files made before.
    bool loadState()
    {
        QByteArray text;
        try {
            text = readWholeFile(stateFile(), kMaxReplyBytes);
        } catch (const HostError &) {
            return true; // none yet: a first sync
        }
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(text, &error);
        const QJsonObject o = document.object();
        const int version = o.value(QLatin1String("version")).toInt(1); // the first files had none
        if (error.error != QJsonParseError::NoError || !document.isObject() || version < 1) {
            fail(QStringLiteral("The address book's sync state %1 is damaged, so nothing was synced; remove it to "
                                "fetch the address book again")
                     .arg(stateFile()));
            return false;
        }
        if (version > kStateVersion) {
            fail(QStringLiteral("The address book's sync state %1 was written by a newer version of Cheerpost, so "
                                "nothing was synced")
                     .arg(stateFile()));
            return false;
        }
        m_book = o.value(QLatin1String("addressBook")).toString();
        m_choice = o.value(QLatin1String("choice")).toString();
        m_token = o.value(QLatin1String("token")).toString();
        for (const auto &[key, into] : {std::pair{"cards", &m_cards}, std::pair{"previous", &m_previous}}) {
            const QJsonObject cards = o.value(QLatin1String(key)).toObject();
            for (auto it = cards.begin(); it != cards.end(); ++it) {
                const QJsonObject c = it.value().toObject();
                const QString file = c.value(QLatin1String("file")).toString();
                if (file.contains(QLatin1Char('/')) || file.startsWith(QLatin1Char('.')) || file.isEmpty())
                    continue; // never a path outside the folder
                into->insert(it.key(),
                             {file, c.value(QLatin1String("etag")).toString(),
                              c.value(QLatin1String("hash")).toString(), c.value(QLatin1String("stamp")).toString()});
            }
        }
        m_savedFingerprint = stateFingerprint();
        return true;
    }

    // What the state holds, in one number: a sync that changed nothing
    // neither builds nor writes the file again.
    size_t stateFingerprint() const
    {
        size_t h = qHashMulti(0, m_book, m_choice, m_token, m_cards.size(), m_previous.size());
        for (const QMap<QString, Card> *cards : {&m_cards, &m_previous})
            for (auto it = cards->cbegin(); it != cards->cend(); ++it)
                h = qHashMulti(h, it.key(), it->file, it->etag, it->hash, it->stamp);
        return h;
    }

    void saveState()
    {
        const size_t fingerprint = stateFingerprint();
        if (m_savedFingerprint && *m_savedFingerprint == fingerprint)
            return; // a sync that changed nothing writes nothing
        // Written directly: ten thousand cards through QJsonObject cost more
        // than the rest of a sync that changed ten.
        QByteArray text;
        text.reserve(256 * (m_cards.size() + m_previous.size() + 1));
        text += "{\"version\":" + QByteArray::number(kStateVersion) + ",\"addressBook\":" + jsonString(m_book) +
                ",\"choice\":" + jsonString(m_choice) + ",\"token\":" + jsonString(m_token);
        for (const auto &[name, cards] : {std::pair{"cards", &m_cards}, std::pair{"previous", &m_previous}}) {
            if (cards->isEmpty() && cards == &m_previous)
                continue;
            text += ",\"" + QByteArray(name) + "\":{";
            for (auto it = cards->cbegin(); it != cards->cend(); ++it) {
                if (it != cards->cbegin())
                    text += ',';
                text += jsonString(it.key()) + ":{\"file\":" + jsonString(it->file) +
                        ",\"etag\":" + jsonString(it->etag) + ",\"hash\":" + jsonString(it->hash) +
                        ",\"stamp\":" + jsonString(it->stamp) + '}';
            }
            text += '}';
        }
        text += '}';
        try {
            makeFolder(m_paths.state);
            writeFileAtomically(stateFile(), text);
            m_savedFingerprint = fingerprint;
        } catch (const HostError &e) {
            fail(QString::fromUtf8(e.what()));
        }
    }

    Reply propfind(const QUrl &url, const char *depth, const QString &props)
    {
        return m_http->request("PROPFIND", url, propfindBody(props),
                               {QByteArray("Depth: ") + depth, "Content-Type: application/xml; charset=utf-8"});
    }

    // Whether an upload (CardDAV or Graph) was not taken: a refused login or
    // a lost server stops the sync; any other refusal skips that contact.
    bool uploadRefused(const Reply &r, const QString &name)
    {
        if (r.status >= 200 && r.status < 300)
            return false;
        if (r.status == 401 || !r.error.isEmpty())
            fail(trouble(r, QStringLiteral("an upload")));
        else
            m_report.skipped.append(QStringLiteral("%1: %2").arg(name, trouble(r, QStringLiteral("an upload"))));
        return true;
    }

    QString trouble(const Reply &r, const QString &what) const
    {
        if (!r.error.isEmpty())
            return QStringLiteral("Cannot reach the address book server for %1: %2").arg(what, r.error);
        if (r.status == 401 && !m_paths.cardDav.signIn.isEmpty())
            return QStringLiteral("The address book server refused the sign-in of %1: sign in again in File > "
                                  "Accounts")
                .arg(m_paths.cardDav.user);
        if (r.status == 401)
            return QStringLiteral("The address book server refused the user name or password");
        if (r.status == 403)
            return QStringLiteral("The address book server does not let this user reach %1 (403 Forbidden)").arg(what);
        return QStringLiteral("The address book server answered %1 to %2").arg(r.status).arg(what);
    }

    // The address book from the URL the user gave, as clients find it.
    bool discover(const QUrl &given, QUrl *book)
    {
        const QString props = QStringLiteral("<d:resourcetype/><d:current-user-principal/><c:addressbook-home-set/>");
        Reply r = propfind(given, "0", props);
        Multistatus m = parseMultistatus(r.body);
        if (r.status != 207 || !m.valid || m.responses.isEmpty()) {
            QUrl known = given;
            known.setPath(QStringLiteral("/.well-known/carddav"));
            r = propfind(known, "0", props);
            m = parseMultistatus(r.body);
            if (r.status != 207 || !m.valid || m.responses.isEmpty()) {
                fail(r.status == 401 || r.status == 403 || !r.error.isEmpty()
                         ? trouble(r, QStringLiteral("the address book search"))
                         : QStringLiteral("No address book server answers at %1").arg(given.toString()));
                return false;
            }
        }
        const DavResponse first = m.responses.first();
        if (first.addressBook) {
            *book = given;
            return true;
        }
        QString home = first.home;
        if (home.isEmpty() && !first.principal.isEmpty()) {
            r = propfind(given.resolved(QUrl(first.principal)), "0", QStringLiteral("<c:addressbook-home-set/>"));
            m = parseMultistatus(r.body);
            if (m.valid && !m.responses.isEmpty())
                home = m.responses.first().home;
        }
        if (home.isEmpty()) {
            fail(QStringLiteral("No address book was found at %1").arg(given.toString()));
            return false;
        }
        const QUrl homeUrl = given.resolved(QUrl(home));
        r = propfind(homeUrl, "1", QStringLiteral("<d:resourcetype/><d:displayname/>"));
        m = parseMultistatus(r.body);
        QList<QUrl> books;
        QUrl preferred;
        const QString wanted =
            m_paths.cardDav.addressBook.isEmpty() ? QStringLiteral("contacts") : m_paths.cardDav.addressBook;
        for (const DavResponse &d : std::as_const(m.responses)) {
            if (!d.addressBook)
                continue;
            const QUrl u = homeUrl.resolved(QUrl(d.href));
            books.append(u);
            m_report.available.append({d.displayName.isEmpty() ? u.path() : d.displayName, u.path()});
            const QString last = u.path().section(QLatin1Char('/'), -2, -1).remove(QLatin1Char('/'));
            if (preferred.isEmpty() &&
                (last.compare(wanted, Qt::CaseInsensitive) == 0 ||
                 d.displayName.compare(wanted, Qt::CaseInsensitive) == 0 || u.path() == wanted || d.href == wanted))
                preferred = u;
        }
        if (books.isEmpty()) {
            fail(QStringLiteral("No address book was found at %1").arg(given.toString()));
            return false;
        }
        *book = preferred.isEmpty() ? books.first() : preferred;
        return true;
    }

    // Whether an href the server names is one of this address book's cards:
    // on the same server, inside the address book.
    bool inBook(const QUrl &url) const
    {
        return url.scheme() == m_bookUrl.scheme() && url.host() == m_bookUrl.host() && url.port() == m_bookUrl.port() &&
               url.path().startsWith(m_bookUrl.path()) && url.path() != m_bookUrl.path() &&
               !url.path().endsWith(QLatin1Char('/'));
    }

    // Writes a card fetched from the server; false when it was not written.
    bool keep(const QString &href, const QString &etag, const QByteArray &bytes)
    {
        auto it = m_cards.find(href);
        Card card = it != m_cards.end() ? *it : Card{};
        QString previousHref;
        if (card.file.isEmpty())
            card = takePrevious(contactUid(bytes), &previousHref);
        if (card.file.isEmpty())
            card.file = QStringLiteral("carddav-%1.vcf")
                            .arg(QString::fromLatin1(
                                QCryptographicHash::hash(href.toUtf8(), QCryptographicHash::Sha1).toHex().left(24)));
        const QString path = localPath(card);
        QByteArray local;
        bool exists = true;
        try {
            local = readWholeFile(path, kMaxCardBytes);
        } catch (const HostError &) {
            exists = QFileInfo::exists(path);
        }
        const QString hash = hashOf(bytes);
        if (exists && !card.hash.isEmpty() && hashOf(local) != card.hash && local != bytes) {
            if (!previousHref.isEmpty()) {
                // Changed here since the book was last seen at its old address:
                // the file stays, and the change goes up at the next sync.
                card.etag = etag;
                m_cards.insert(href, card);
                return false;
            }
            m_report.skipped.append(QStringLiteral("%1: changed here and on the server; the change here could not "
                                                   "be uploaded, so it stays")
                                        .arg(contactName(local, card.file)));
            return false;
        }
        try {
            writeFileAtomically(seenFile(hash), bytes);
            // A contact file is replaced only while it holds what was read
            // here, as every contact write is; a change another program
            // makes meanwhile stays, and the card's old state with it.
            if (exists && local != bytes)
                replaceFileIfUnchanged(path, local, bytes);
            else if (!exists)
                writeFileAtomically(path, bytes);
            m_written.insert(QFileInfo(path).absoluteFilePath(),
                             {href, it != m_cards.end() ? std::optional(*it) : std::nullopt});
        } catch (const HostError &e) {
            m_report.skipped.append(
                QStringLiteral("%1: %2").arg(contactName(bytes, card.file), QString::fromUtf8(e.what())));
            return false;
        }
        if (it != m_cards.end() && it->hash != hash)
            m_staleSeen.append(it->hash); // removed once the state no longer names it
        card.etag = etag;
        card.hash = hash;
        card.stamp.clear(); // stamped once the batch is on the disk
        m_cards.insert(href, card);
        return true;
    }

    // Whether the card's file still holds the bytes last seen on the server
    // (then it is stamped); what it holds otherwise goes to *local. The stamp,
    // taken before the file is read, spares the read while it is unchanged.
    Here compareHere(Card &card, QByteArray *local) const
    {
        const QString stamp = fileStamp(localPath(card));
        if (stamp.isEmpty())
            return Here::Missing;
        if (!card.stamp.isEmpty() && stamp == card.stamp)
            return Here::Same;
        try {
            *local = readWholeFile(localPath(card), kMaxCardBytes);
        } catch (const HostError &) {
            return Here::Missing;
        }
        if (hashOf(*local) != card.hash)
            return Here::Changed;
        card.stamp = stamp;
        return Here::Same;
    }

    // Cards the program changed go back, with If-Match on their ETag.
    void uploadChanges()
    {
        for (auto it = m_cards.begin(); it != m_cards.end() && m_report.failure.isEmpty(); ++it) {
            QByteArray local;
            const Here here = compareHere(*it, &local);
            if (here != Here::Same)
                m_here.insert(it.key(), here); // a missing one comes back from the server
            if (here != Here::Changed)
                continue; // never changed here: never uploaded
            if (m_paths.cardDav.graph())
                uploadGraph(it.key(), local);
            else
                upload(it.key(), local);
        }
    }

    void upload(const QString &href, const QByteArray &local)
    {
        const Card card = m_cards.value(href);
        const QString name = contactName(local, card.file);
        Reply r = put(href, card.etag, local);
        if (r.status == 412) {
            const Reply now = m_http->request("GET", QUrl(href), QByteArray(), {});
            if (now.status != 200) {
                m_report.skipped.append(QStringLiteral("%1: %2").arg(name, trouble(now, QStringLiteral("a card"))));
                return;
            }
            if (!looksLikeVCard(now.body)) {
                m_report.skipped.append(
                    QStringLiteral("%1: what the server holds there now is not a vCard; the change here stays here")
                        .arg(name));
                return;
            }
            QByteArray seen;
            try {
                seen = readWholeFile(seenFile(card.hash), kMaxCardBytes);
            } catch (const HostError &) {
            }
            const QByteArray merged = seen.isEmpty() ? QByteArray() : reapplyChange(seen, local, now.body);
            if (merged.isEmpty()) {
                adoptServerCard(href, card, local, now.body, QString::fromUtf8(now.etag));
                m_report.skipped.append(QStringLiteral("%1: changed on the server meanwhile; the server's card was "
                                                       "kept")
                                            .arg(name));
                return;
            }
            r = put(href, QString::fromUtf8(now.etag), merged);
        }
        if (uploadRefused(r, name))
            return;
        ++m_report.uploaded;
        // Servers rewrite what they take: their copy is the one kept.
        const Reply back = m_http->request("GET", QUrl(href), QByteArray(), {});
        if (back.status == 200 && back.body.size() <= kMaxCardBytes && looksLikeVCard(back.body)) {
            adoptServerCard(href, card, local, back.body, QString::fromUtf8(back.etag));
        }
    }

    // Seen copies the saved state no longer names go; one that another card
    // still names (the same bytes under two hrefs) stays.
    void removeStaleSeen()
    {
        if (m_staleSeen.isEmpty())
            return;
        QSet<QString> named;
        for (const Card &c : std::as_const(m_cards))
            named.insert(c.hash);
        for (const QString &hash : std::as_const(m_staleSeen))
            if (!named.contains(hash))
                QFile::remove(seenFile(hash));
        m_staleSeen.clear();
    }

    void keepSeen(const QString &href, const QByteArray &bytes)
    {
        try {
            const QString hash = hashOf(bytes);
            writeFileAtomically(seenFile(hash), bytes);
            Card c = m_cards.value(href);
            if (c.hash != hash)
                m_staleSeen.append(c.hash);
            c.hash = hash;
            m_cards.insert(href, c);
        } catch (const HostError &) {
        }
    }

    // The server's copy of a card replaces the file here (while unchanged)
    // and becomes the copy last seen, with its ETag.
    void adoptServerCard(const QString &href, const Card &card, const QByteArray &local, const QByteArray &bytes,
                         const QString &etag)
    {
        replaceLocal(card, local, bytes);
        Card updated = card;
        updated.etag = etag;
        m_cards.insert(href, updated);
        keepSeen(href, bytes);
    }

    void replaceLocal(const Card &card, const QByteArray &expected, const QByteArray &bytes)
    {
        try {
            replaceFileIfUnchanged(localPath(card), expected, bytes);
        } catch (const HostError &) {
            // changed meanwhile by another program: the next sync sees it
        }
    }

    Reply put(const QString &href, const QString &etag, const QByteArray &bytes)
    {
        QList<QByteArray> headers{"Content-Type: text/vcard; charset=utf-8"};
        // Only ever over the card that is there: never one made anew.
        headers.append("If-Match: " + (etag.isEmpty() ? QByteArray("*") : etag.toUtf8()));
        return m_http->request("PUT", QUrl(href), bytes, headers);
    }

    // What changed since the token, from the server's sync-collection report.
    // Without a token (a first sync) the report lists every card. A report
    // the server cut short is asked for again from where it stopped.
    bool changesSinceToken(QMap<QString, QString> *changed, QStringList *removed)
    {
        if (m_token.isEmpty() && !m_cards.isEmpty())
            return false; // cards known but no token: the listing compares their ETags
        QString token = m_token;
        for (int page = 0; page < 10000; ++page) {
            const QByteArray body =
                QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<d:sync-collection xmlns:d=\"DAV:\">"
                               "<d:sync-token>%1</d:sync-token><d:sync-level>1</d:sync-level><d:prop><d:getetag/>"
                               "</d:prop></d:sync-collection>")
                    .arg(xmlEscaped(token))
                    .toUtf8();
            const Reply r = m_http->request("REPORT", m_bookUrl, body,
                                            {"Depth: 1", "Content-Type: application/xml; charset=utf-8"});
            const Multistatus m = parseMultistatus(r.body);
            if (r.status != 207 || !m.valid || m.syncToken.isEmpty())
                return false; // no longer valid, or none: compare ETags instead
            bool more = false;
            for (const DavResponse &d : m.responses) {
                const QUrl url = m_bookUrl.resolved(QUrl(d.href));
                if (url.path() == m_bookUrl.path() && d.status.contains(QLatin1String(" 507")))
                    more = true;
                if (!inBook(url))
                    continue;
                const QString href = url.toString();
                if (d.status.contains(QLatin1String(" 404"))) {
                    removed->append(href);
                    changed->remove(href);
                } else if (!d.etag.isEmpty() && m_cards.value(href).etag != d.etag) {
                    changed->insert(href, d.etag);
                }
            }
            token = m.syncToken;
            if (!more)
                break;
        }
        m_newToken = token;
        return true;
    }

    // A server that suddenly lists no card at all is more likely broken, or
    // the wrong address book, than emptied: nothing here is deleted for it.
    void failEmptyListing()
    {
        fail(QStringLiteral("The address book on the server lists no contact now; the %1 contacts here were kept. If "
                            "the address book was emptied on purpose, remove them here as well")
                 .arg(m_cards.size()));
    }

    bool changesByListing(QMap<QString, QString> *changed, QStringList *removed)
    {
        const Reply r = propfind(m_bookUrl, "1", QStringLiteral("<d:getetag/><d:resourcetype/>"));
        const Multistatus m = parseMultistatus(r.body);
        if (r.status != 207 || !m.valid) {
            fail(trouble(r, QStringLiteral("the list of cards")));
            return false;
        }
        QSet<QString> listed;
        for (const DavResponse &d : m.responses) {
            const QUrl url = m_bookUrl.resolved(QUrl(d.href));
            if (!inBook(url) || d.etag.isEmpty())
                continue;
            listed.insert(url.toString());
            if (m_cards.value(url.toString()).etag != d.etag)
                changed->insert(url.toString(), d.etag);
        }
        if (listed.isEmpty() && !m_cards.isEmpty()) {
            failEmptyListing();
            return false;
        }
        for (auto it = m_cards.cbegin(); it != m_cards.cend(); ++it)
            if (!listed.contains(it.key()))
                removed->append(it.key());
        const Reply t = propfind(m_bookUrl, "0", QStringLiteral("<d:sync-token/>"));
        const Multistatus tm = parseMultistatus(t.body);
        m_newToken = t.status == 207 && tm.valid ? tm.syncToken : QString();
        return true;
    }

    // One multiget's cards, checked and kept; they reach the disk together,
    // before the state that names them. False when the disk refused one.
    bool keepFetched(const Multistatus &m, const QMap<QString, QString> &changed)
    {
        WriteBatch batch;
        for (const DavResponse &d : m.responses) {
            const QString href = m_bookUrl.resolved(QUrl(d.href)).toString();
            if (!changed.contains(href) || d.addressData.isNull())
                continue; // only what was asked for
            const QString path = QUrl(href).path();
            if (d.addressData.size() > kMaxCardBytes) {
                m_report.skipped.append(QStringLiteral("%1: the card is larger than 1 MB").arg(path));
                continue;
            }
            if (!looksLikeVCard(d.addressData)) {
                m_report.skipped.append(QStringLiteral("%1: what the server holds there is not a vCard").arg(path));
                continue;
            }
            if (keep(href, d.etag.isEmpty() ? changed.value(href) : d.etag, d.addressData))
                ++m_report.fetched;
        }
        return flushKept(batch);
    }

    // The batch of kept cards to the disk; false when a file other than a
    // contact changed here meanwhile did not reach it.
    bool flushKept(WriteBatch &batch)
    {
        bool written = true;
        try {
            batch.flush();
        } catch (const HostError &e) {
            written = keepLocalChanges(e);
        }
        // What reached the disk is stamped now, so that the next sync need not read it.
        for (const auto &entry : std::as_const(m_written)) {
            const auto card = m_cards.find(entry.first); // the card whose file it is
            QByteArray local;
            if (card != m_cards.end())
                compareHere(*card, &local);
        }
        m_written.clear();
        return written;
    }

    // A contact file changed here while it was fetched keeps that change,
    // and its card its old state: the change goes up at the next sync,
    // merged with the server's if need be. False, and the sync fails, when
    // another file (a seen copy) did not reach the disk.
    bool keepLocalChanges(const HostError &e)
    {
        bool onlyContacts = true;
        for (const QString &file : e.files()) {
            const auto w = m_written.constFind(QFileInfo(file).absoluteFilePath());
            if (w == m_written.cend()) {
                onlyContacts = false;
                continue;
            }
            m_staleSeen.append(m_cards.value(w->first).hash);
            if (w->second)
                m_cards.insert(w->first, *w->second);
            else
                m_cards.remove(w->first);
            --m_report.fetched;
            m_report.skipped.append(
                QStringLiteral("%1: changed here while the server's card was fetched; the change here stays")
                    .arg(QFileInfo(file).fileName()));
        }
        if (!onlyContacts)
            fail(QString::fromUtf8(e.what()));
        return onlyContacts;
    }

    // The changed cards, a batch at a time; each batch reaches the disk
    // before the state that names it is saved.
    bool fetch(const QMap<QString, QString> &changed)
    {
        const QStringList hrefs = changed.keys();
        for (qsizetype at = 0; at < hrefs.size(); at += kBatch) {
            if (m_progress && !m_progress(int(at), int(hrefs.size()))) {
                fail(QStringLiteral("The sync was cancelled"));
                saveState();
                return false;
            }
            const QStringList batch = hrefs.mid(at, kBatch);
            if (!(m_paths.cardDav.graph() ? fetchGraphBatch(batch, changed) : fetchBatch(batch, changed)))
                return false;
            saveState();
            removeStaleSeen();
        }
        if (m_progress)
            m_progress(int(hrefs.size()), int(hrefs.size()));
        return true;
    }

    // One addressbook-multiget; false when the sync cannot go on.
    bool fetchBatch(const QStringList &hrefs, const QMap<QString, QString> &changed)
    {
        QString list;
        for (const QString &h : hrefs)
            list += QStringLiteral("<d:href>%1</d:href>").arg(xmlEscaped(QUrl(h).path(QUrl::FullyEncoded)));
        const QByteArray body =
            QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<c:addressbook-multiget xmlns:d=\"DAV:\" "
                           "xmlns:c=\"urn:ietf:params:xml:ns:carddav\"><d:prop><d:getetag/><c:address-data/>"
                           "</d:prop>%1</c:addressbook-multiget>")
                .arg(list)
                .toUtf8();
        const Reply r =
            m_http->request("REPORT", m_bookUrl, body, {"Depth: 1", "Content-Type: application/xml; charset=utf-8"});
        const Multistatus m = parseMultistatus(r.body);
        if (r.status != 207 || !m.valid) {
            fail(trouble(r, QStringLiteral("the cards asked for")));
            saveState();
            return false;
        }
        return keepFetched(m, changed); // when false, the state still names what is on the disk
    }

    // The plan held back deletions of most of the contacts here, however the
    // server told of them: none happens until the user agrees.
    void withholdDeletions(int count)
    {
        m_report.withheldDeletions = count;
        fail(QStringLiteral("The address book on the server no longer has %1 of the %2 contacts here; none was "
                            "deleted here. If they were deleted there on purpose, say so when the next run syncs "
                            "before it starts")
                 .arg(count)
                 .arg(m_cards.size()));
    }

    // The card known from the address book before whose file holds uid:
    // taken over by the card that has it now, which replaces that file.
    Card takePrevious(const QString &uid, QString *taken)
    {
        if (uid.isEmpty() || m_previous.isEmpty())
            return {};
        if (m_previousUids.isEmpty())
            for (auto it = m_previous.cbegin(); it != m_previous.cend(); ++it) {
                try {
                    m_previousUids.insert(contactUid(readWholeFile(localPath(*it), kMaxCardBytes)), it.key());
                } catch (const HostError &) {
                }
            }
        const QString href = m_previousUids.take(uid);
        if (href.isEmpty() || !m_previous.contains(href))
            return {};
        *taken = href;
        return m_previous.take(href);
    }

    // The cards of the address book before that the one synced now does not
    // hold: their files go as a deletion would, under the same rules.
    void removePrevious()
    {
        if (m_previous.isEmpty() || !m_report.failure.isEmpty())
            return;
        const QStringList gone = m_previous.keys();
        for (const QString &href : gone)
            m_cards.insert(QStringLiteral("previous:") + href, m_previous.value(href));
        QStringList keys;
        for (const QString &href : gone)
            keys.append(QStringLiteral("previous:") + href);
        m_previous.clear();
        m_previousUids.clear();
        removeDeleted(keys);
        for (const QString &key : std::as_const(keys))
            m_cards.remove(key); // one that stays (changed here) is a contact of this folder, not of a book
    }

    // Cards gone on the server, each file checked again as it goes: what
    // the plan saw may have changed since.
    void removeDeleted(const QStringList &hrefs)
    {
        const auto kept = [this](const QString &name, const QString &why) {
            m_report.skipped.append(QStringLiteral("%1: deleted on the server, but %2").arg(name, why));
        };
        for (const QString &href : hrefs) {
            const auto it = m_cards.constFind(href);
            if (it == m_cards.cend())
                continue;
            QByteArray local;
            bool present = true;
            try {
                local = readWholeFile(localPath(*it), kMaxCardBytes);
            } catch (const HostError &) {
                present = QFileInfo::exists(localPath(*it));
            }
            if (present && hashOf(local) != it->hash) {
                kept(contactName(local, it->file),
                     QStringLiteral("it holds a change made here that was not uploaded, so it stays here"));
                continue;
            }
            try {
                // Removed only while it holds what was read: a change made
                // meanwhile keeps the contact here, to go up at the next sync.
                if (present)
                    removeFileIfUnchanged(localPath(*it), local);
            } catch (const HostError &e) {
                kept(contactName(local, it->file), QString::fromUtf8(e.what()));
                continue;
            }
            m_staleSeen.append(it->hash);
            m_cards.remove(href);
            ++m_report.deleted;
        }
        syncFolder(m_paths.contacts);
    }

    bool findBook(QUrl *book)
    {
        return m_paths.cardDav.graph() ? findGraphFolder(book) : discover(chosenStart(), book);
    }

    // Microsoft Graph: the root the account names, e.g. https://graph.microsoft.com/v1.0.
    QString graphRoot() const
    {
        QString root = m_paths.cardDav.url.trimmed();
        while (root.endsWith(QLatin1Char('/')))
            root.chop(1);
        return root;
    }
    QString graphContact(const QString &id) const
    {
        return graphRoot() + QLatin1String("/me/contacts/") + QString::fromLatin1(QUrl::toPercentEncoding(id));
    }

    // A Graph request, waiting as the server asks when it throttles (429,
    // 503 with Retry-After), within the sync's time.
    Reply graphRequest(const char *method, const QUrl &url, const QByteArray &body = QByteArray(),
                       QList<QByteArray> headers = {})
    {
        headers.append("Accept: application/json");
        for (int attempt = 0;; ++attempt) {
            Reply r = m_http->request(method, url, body, headers);
            if ((r.status != 429 && r.status != 503) || attempt >= kThrottleRetries)
                return r;
            const int seconds = qBound(1, r.retryAfterSeconds < 0 ? 5 : r.retryAfterSeconds, kMaxRetryAfterSeconds);
            QDeadlineTimer wait(seconds * 1000);
            while (!wait.hasExpired()) {
                if (m_limits.cancelled && m_limits.cancelled->load())
                    return r;
                QThread::msleep(100);
            }
        }
    }

    static QJsonObject jsonOf(const Reply &r) { return QJsonDocument::fromJson(r.body).object(); }

    // The contacts folder: the one AddressBook names, else the default one,
    // which holds the contacts of /me/contacts. Where that lists none, the
    // address book is empty.
    bool findGraphFolder(QUrl *book)
    {
        const QString chosen = m_paths.cardDav.addressBook;
        QString folder;
        if (chosen.isEmpty()) {
            const Reply r =
                graphRequest("GET", QUrl(graphRoot() + QLatin1String("/me/contacts?$top=1&$select=parentFolderId")));
            if (r.status != 200) {
                fail(trouble(r, QStringLiteral("the contacts")));
                return false;
            }
            const QJsonArray first = jsonOf(r).value(QLatin1String("value")).toArray();
            folder = first.isEmpty() ? QString()
                                     : first.first().toObject().value(QLatin1String("parentFolderId")).toString();
            m_report.available.append({QStringLiteral("Contacts"), QString()});
        } else {
            QUrl next(graphRoot() + QLatin1String("/me/contactFolders?$top=100"));
            for (int page = 0; page < 100 && !next.isEmpty() && folder.isEmpty(); ++page) {
                const Reply r = graphRequest("GET", next);
                if (r.status != 200) {
                    fail(trouble(r, QStringLiteral("the contact folders")));
                    return false;
                }
                const QJsonObject o = jsonOf(r);
                for (const QJsonValue &v : o.value(QLatin1String("value")).toArray()) {
                    const QString name = v.toObject().value(QLatin1String("displayName")).toString();
                    m_report.available.append({name, name});
                    if (name.compare(chosen, Qt::CaseInsensitive) == 0)
                        folder = v.toObject().value(QLatin1String("id")).toString();
                }
                next = QUrl(o.value(QLatin1String("@odata.nextLink")).toString());
            }
            if (folder.isEmpty()) {
                fail(QStringLiteral("There is no contacts folder \"%1\" at Microsoft").arg(chosen));
                return false;
            }
        }
        *book = folder.isEmpty() ? QUrl(graphRoot() + QLatin1String("/me/contacts"))
                                 : QUrl(graphRoot() + QLatin1String("/me/contactFolders/") +
                                        QString::fromLatin1(QUrl::toPercentEncoding(folder)) +
                                        QLatin1String("/contacts/delta?$select=id,changeKey"));
        return true;
    }

    // What changed since the delta link, by Graph's delta query. Without
    // one, or when the server no longer knows it (410), a full round lists
    // every contact: the unchanged ones are not fetched again, the ones no
    // longer listed are deleted under the one rule for deletions.
    bool changesByDelta(QMap<QString, QString> *changed, QStringList *removed)
    {
        if (!m_bookUrl.path().endsWith(QLatin1String("/delta"))) {
            // No contact in the default folder: an empty address book.
            if (!m_cards.isEmpty()) {
                failEmptyListing();
                return false;
            }
            m_newToken.clear();
            return true;
        }
        bool full = m_token.isEmpty();
        QUrl next = full ? m_bookUrl : QUrl(m_token);
        QSet<QString> listed;
        for (int page = 0; page < 100000; ++page) {
            const Reply r = graphRequest("GET", next, QByteArray(), {"Prefer: odata.maxpagesize=200"});
            if (r.status == 410 && !full) { // the delta link expired: start a full round
                full = true;
                changed->clear();
                removed->clear();
                next = m_bookUrl;
                continue;
            }
            if (r.status != 200) {
                fail(trouble(r, QStringLiteral("the changed contacts")));
                return false;
            }
            const QJsonObject o = jsonOf(r);
            for (const QJsonValue &v : o.value(QLatin1String("value")).toArray()) {
                const QJsonObject c = v.toObject();
                const QString id = c.value(QLatin1String("id")).toString();
                if (id.isEmpty() || id.size() > 1024)
                    continue;
                const QString key = graphContact(id);
                if (c.contains(QLatin1String("@removed"))) {
                    removed->append(key);
                    changed->remove(key);
                    continue;
                }
                listed.insert(key);
                removed->removeAll(key);
                const QString changeKey = c.value(QLatin1String("changeKey")).toString();
                if (changeKey.isEmpty() || m_cards.value(key).etag != changeKey)
                    changed->insert(key, changeKey);
            }
            const QString more = o.value(QLatin1String("@odata.nextLink")).toString();
            const QString done = o.value(QLatin1String("@odata.deltaLink")).toString();
            if (!done.isEmpty()) {
                m_newToken = done;
                break;
            }
            if (more.isEmpty()) {
                fail(QStringLiteral("Microsoft's list of contacts ended without a link to the next changes"));
                return false;
            }
            next = QUrl(more);
        }
        if (full) {
            if (listed.isEmpty() && !m_cards.isEmpty()) {
                failEmptyListing();
                return false;
            }
            for (auto it = m_cards.cbegin(); it != m_cards.cend(); ++it)
                if (!listed.contains(it.key()) && !removed->contains(it.key()))
                    removed->append(it.key());
        }
        return true;
    }

    // One contact as the vCard kept here, and its change key; empty bytes
    // when it could not be read (the reason is skipped or failed).
    std::pair<QByteArray, QString> getGraphContact(const QString &key, Reply *reply)
    {
        *reply = graphRequest("GET", QUrl(key + QLatin1Char('?') + graphContactQuery()));
        if (reply->status != 200)
            return {};
        const QJsonObject c = jsonOf(*reply);
        return {vcardFromGraph(c), c.value(QLatin1String("changeKey")).toString()};
    }

    // One contact after another of a batch, kept together; false when the
    // sync cannot go on.
    bool fetchGraphBatch(const QStringList &keys, const QMap<QString, QString> &)
    {
        WriteBatch batch;
        for (const QString &key : keys) {
            Reply r;
            const auto [bytes, changeKey] = getGraphContact(key, &r);
            if (r.status == 404)
                continue; // deleted meanwhile: the next round tells
            if (r.status != 200) {
                fail(trouble(r, QStringLiteral("a contact")));
                break;
            }
            if (bytes.isEmpty() || bytes.size() > kMaxCardBytes) {
                m_report.skipped.append(
                    QStringLiteral("%1: not a contact this program can keep").arg(QUrl(key).fileName()));
                continue;
            }
            if (keep(key, changeKey, bytes))
                ++m_report.fetched;
        }
        if (!flushKept(batch) || !m_report.failure.isEmpty()) {
            saveState(); // what was kept before the failure stays known
            return false;
        }
        return true;
    }

    Reply patchGraph(const QString &key, const QString &changeKey, const QJsonObject &patch)
    {
        // The change key is Graph's ETag: the PATCH lands only on the contact as it was seen.
        return graphRequest("PATCH", QUrl(key), QJsonDocument(patch).toJson(QJsonDocument::Compact),
                            {"Content-Type: application/json", "If-Match: W/\"" + changeKey.toUtf8() + '"'});
    }

    // The dates the program changed go back with the change key; when the
    // contact changed at Microsoft meanwhile, they are applied again only
    // where the lines they touch are unchanged there.
    void uploadGraph(const QString &key, const QByteArray &local)
    {
        const Card card = m_cards.value(key);
        const QString name = contactName(local, card.file);
        QByteArray seen;
        try {
            seen = readWholeFile(seenFile(card.hash), kMaxCardBytes);
        } catch (const HostError &) {
        }
        QJsonObject patch = graphDatesPatch(seen, local);
        if (seen.isEmpty() || patch.isEmpty()) {
            m_report.skipped.append(QStringLiteral("%1: changed here; only a birthday or anniversary goes back to "
                                                   "Microsoft, so the change stays here")
                                        .arg(name));
            return;
        }
        Reply r = patchGraph(key, card.etag, patch);
        if (r.status == 412) {
            Reply now;
            const auto [server, changeKey] = getGraphContact(key, &now);
            if (now.status != 200 || server.isEmpty()) {
                m_report.skipped.append(QStringLiteral("%1: %2").arg(name, trouble(now, QStringLiteral("a contact"))));
                return;
            }
            const QByteArray merged = reapplyChange(seen, local, server);
            if (merged.isEmpty()) {
                adoptServerCard(key, card, local, server, changeKey);
                m_report.skipped.append(
                    QStringLiteral("%1: changed at Microsoft meanwhile; Microsoft's contact was kept").arg(name));
                return;
            }
            patch = graphDatesPatch(server, merged);
            r = patchGraph(key, changeKey, patch);
        }
        if (uploadRefused(r, name))
            return;
        ++m_report.uploaded;
        Reply back;
        const auto [bytes, changeKey] = getGraphContact(key, &back);
        if (back.status == 200 && !bytes.isEmpty()) {
            adoptServerCard(key, card, local, bytes, changeKey);
        }
    }

    const StorePaths &m_paths;
    const std::function<bool(int, int)> &m_progress;
    SyncReport &m_report;
    bool m_discoverOnly;
    SyncLimits m_limits;
    int m_lock = -1;                          // the state's lock file, locked while the sync runs
    std::optional<size_t> m_savedFingerprint; // of the state as the file holds it
    std::unique_ptr<Http> m_http;
    QString m_book;
    QString m_choice; // the account's URL and chosen address book the state was made for
    QUrl m_bookUrl;
    QString m_token;
    QString m_newToken;
    QMap<QString, Card> m_cards;            // by the card's full URL
    QMap<QString, Card> m_previous;         // of the address book synced before, until this one is whole here
    QHash<QString, QString> m_previousUids; // their UIDs, read once: UID -> URL
    QHash<QString, Here> m_here;            // cards whose file is changed or gone here
    QStringList m_staleSeen;                // seen copies the state will no longer name
    // Contact files the open batch writes: their card, and its state before.
    QHash<QString, std::pair<QString, std::optional<Card>>> m_written;
};

} // namespace

QString SyncReport::summary() const
{
    return QStringLiteral("Address book: %1 fetched, %2 uploaded, %3 deleted, %4 skipped")
        .arg(fetched)
        .arg(uploaded)
        .arg(deleted)
        .arg(skipped.size());
}

AddressBookSync::AddressBookSync(StorePaths paths, QString password)
    : m_paths(std::move(paths)), m_password(std::move(password))
{
}

SyncReport AddressBookSync::run(const std::function<bool(int, int)> &progress)
{
    return work(progress, false);
}

SyncReport AddressBookSync::findAddressBook()
{
    return work({}, true);
}

SyncReport AddressBookSync::work(const std::function<bool(int, int)> &progress, bool discoverOnly)
{
    SyncReport report;
    if (!m_paths.cardDav.enabled()) {
        report.failure = QStringLiteral("No address book server is set (host.conf, [CardDav] Url=)");
        return report;
    }
    try {
        Sync(m_paths, progress, report, discoverOnly, limits).run(m_password);
    } catch (const HostError &e) {
        report.failure = QString::fromUtf8(e.what());
        report.completed = false;
    }
    return report;
}

} // namespace hostmail::carddav
