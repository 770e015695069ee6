#include "hostmail/smtp/SmtpSession.h"

#include "hostmail/HostError.h"
#include "hostmail/mime/MimeMessage.h"
#include "hostmail/net/Tls.h"
#include "hostmail/process/CommandRunner.h"
#include "hostmail/smtp/MemoryKeyring.h"

#include <QProcess>
#include <QStandardPaths>

#include <curl/curl.h>

#include <cstring>

namespace hostmail::smtp {

namespace {

constexpr qsizetype kMaxReplyBytes = 64 * 1024; // what is kept of the server's talk

} // namespace

struct SmtpSession::Private {
    SmtpSettings settings;
    QString password;
    int timeout;
    CURL *curl = nullptr;
    // What one transfer saw.
    QByteArray upload;
    qsizetype uploaded = 0;
    bool wholeMessageSent = false;
    QByteArray talk;         // the server's replies, bounded
    QStringList rcptReplies; // "address: reply" for every refused RCPT
    QString lastRcpt;        // the address of the last RCPT sent
    net::TlsTrust trust;
    const std::atomic_bool *cancelled = nullptr;

    static size_t read(char *buffer, size_t size, size_t count, void *self)
    {
        auto *p = static_cast<Private *>(self);
        const size_t room = size * count;
        const qsizetype left = p->upload.size() - p->uploaded;
        const size_t n = qMin<size_t>(room, size_t(left));
        std::memcpy(buffer, p->upload.constData() + p->uploaded, n);
        p->uploaded += qsizetype(n);
        p->wholeMessageSent = p->uploaded == p->upload.size(); // only the end-of-data mark is left
        return n;
    }

    static int progress(void *self, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
    {
        const auto *p = static_cast<Private *>(self);
        return p->cancelled && p->cancelled->load() ? 1 : 0;
    }

    static int debug(CURL *, curl_infotype type, char *data, size_t size, void *self)
    {
        auto *p = static_cast<Private *>(self);
        const QByteArray text(data, qsizetype(qMin<size_t>(size, 4096)));
        if (type == CURLINFO_HEADER_OUT && text.startsWith("RCPT TO:")) {
            QByteArray address = text.mid(8).trimmed();
            if (address.startsWith('<') && address.endsWith('>'))
                address = address.mid(1, address.size() - 2);
            p->lastRcpt = QString::fromUtf8(address);
        } else if (type == CURLINFO_HEADER_IN) {
            if (p->talk.size() < kMaxReplyBytes)
                p->talk += text;
            if (!p->lastRcpt.isEmpty()) {
                if (text.startsWith('4') || text.startsWith('5'))
                    p->rcptReplies.append(p->lastRcpt + QLatin1String(": ") + QString::fromUtf8(text.trimmed()));
                p->lastRcpt.clear();
            }
        }
        return 0;
    }

    QString where() const { return QStringLiteral("%1:%2").arg(settings.host).arg(settings.port); }

    void prepare()
    {
        if (!curl)
            curl = curl_easy_init();
        curl_easy_reset(curl);
        const bool tls = settings.security == SmtpSettings::Security::Tls;
        const QByteArray url =
            QStringLiteral("%1://%2:%3")
                .arg(tls ? QLatin1String("smtps") : QLatin1String("smtp"),
                     settings.host.contains(QLatin1Char(':')) ? QLatin1Char('[') + settings.host + QLatin1Char(']')
                                                              : settings.host)
                .arg(settings.port)
                .toUtf8();
        curl_easy_setopt(curl, CURLOPT_URL, url.constData());
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        if (settings.security == SmtpSettings::Security::StartTls)
            curl_easy_setopt(curl, CURLOPT_USE_SSL, long(CURLUSESSL_ALL)); // never a quiet fall back
        if (!settings.caFile.isEmpty())
            curl_easy_setopt(curl, CURLOPT_CAINFO, settings.caFile.toLocal8Bit().constData());
        trust.host = settings.host;
        trust.trustedFingerprint = settings.trustedCertificate;
        trust.seenFingerprint.clear();
        net::applyTlsTrust(curl, &trust);
        if (!settings.signIn.isEmpty()) {
            // The access token of the sign-in: OAUTHBEARER where offered, else XOAUTH2.
            curl_easy_setopt(curl, CURLOPT_USERNAME, settings.user.toUtf8().constData());
            curl_easy_setopt(curl, CURLOPT_XOAUTH2_BEARER, password.toUtf8().constData());
        } else if (!settings.user.isEmpty()) {
            curl_easy_setopt(curl, CURLOPT_USERNAME, settings.user.toUtf8().constData());
            curl_easy_setopt(curl, CURLOPT_PASSWORD, password.toUtf8().constData());
        }
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, long(timeout));
        curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, long(timeout));
        // A server that takes the data but stalls: no progress for that long ends the attempt.
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, long(timeout));
        if (cancelled) {
            curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
            curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &Private::progress);
            curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
        }
        curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L); // to the debug function only
        curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, &Private::debug);
        curl_easy_setopt(curl, CURLOPT_DEBUGDATA, this);
        talk.clear();
        rcptReplies.clear();
        lastRcpt.clear();
    }

    // The server's last reply line, for the user.
    QString lastReply() const
    {
        const QList<QByteArray> lines = talk.trimmed().split('\n');
        return lines.isEmpty() ? QString() : QString::fromUtf8(lines.last().trimmed());
    }

    SmtpResult outcome(CURLcode code)
    {
        SmtpResult r;
        long reply = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply);
        const QString said = lastReply();
        const QString curlText = QString::fromUtf8(curl_easy_strerror(code));
        using O = SmtpResult::Outcome;
        switch (code) {
        case CURLE_OK:
            r.outcome = rcptReplies.isEmpty() ? O::Sent : O::PartlyRefused;
            r.refused = rcptReplies;
            r.text = rcptReplies.isEmpty() ? QStringLiteral("accepted by %1").arg(where())
                                           : QStringLiteral("accepted by %1, but refused for %2")
                                                 .arg(where(), rcptReplies.join(QLatin1String("; ")));
            return r;
        case CURLE_LOGIN_DENIED:
            r.outcome = O::LoginRefused;
            r.text = settings.signIn.isEmpty()
                         ? QStringLiteral("The mail server %1 refused the user name or password (%2).")
                               .arg(where(), said.isEmpty() ? curlText : said)
                         : QStringLiteral("The mail server %1 refused the sign-in of %2 (%3): sign in again in File "
                                          "> Accounts.")
                               .arg(where(), settings.user, said.isEmpty() ? curlText : said);
            return r;
        case CURLE_USE_SSL_FAILED:
            r.outcome = O::Insecure;
            r.text = QStringLiteral("The mail server %1 does not offer STARTTLS, so nothing was sent over an "
                                    "unencrypted connection.")
                         .arg(where());
            return r;
        case CURLE_ABORTED_BY_CALLBACK:
            r.outcome = O::Unreachable;
            r.text = wholeMessageSent ? QStringLiteral("Cancelled after the whole message went to %1; it may have "
                                                       "arrived.")
                                            .arg(where())
                                      : QStringLiteral("Cancelled; nothing was sent.");
            if (wholeMessageSent)
                r.outcome = O::Unknown;
            return r;
        case CURLE_PEER_FAILED_VERIFICATION:
            r.outcome = O::Insecure;
            if (!trust.seenFingerprint.isEmpty())
                r.untrustedCertificate = QStringLiteral("sha256:") + trust.seenFingerprint;
            r.text =
                QStringLiteral("The certificate of the mail server %1 could not be verified (SHA-256 "
                               "fingerprint %2); nothing was sent. Trust it only if you know it to be the "
                               "server's.")
                    .arg(where(), trust.seenFingerprint.isEmpty() ? QStringLiteral("unknown") : trust.seenFingerprint);
            return r;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CACERT_BADFILE:
            r.outcome = O::Insecure;
            r.text = QStringLiteral("No encrypted connection to the mail server %1 (%2); nothing was sent. Is the "
                                    "port right for the security chosen?")
                         .arg(where(), curlText);
            return r;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
            r.outcome = O::Unreachable;
            r.text = QStringLiteral("Cannot reach the mail server %1 (%2).").arg(where(), curlText);
            return r;
        default:
            break;
        }
        if (reply >= 400 && reply < 500) {
            r.outcome = O::Temporary;
            r.text = QStringLiteral("The mail server %1 refused it for now: %2").arg(where(), said);
        } else if (reply >= 500) {
            r.outcome = O::Refused;
            r.text = QStringLiteral("The mail server %1 refused it: %2").arg(where(), said);
            r.refused = rcptReplies;
        } else if (wholeMessageSent) {
            r.outcome = O::Unknown;
            r.text = QStringLiteral("The connection to %1 was lost after the whole message was sent and before "
                                    "the server answered (%2); it may have gone out")
                         .arg(where(), curlText);
        } else if (code == CURLE_OPERATION_TIMEDOUT && talk.isEmpty()) {
            r.outcome = O::Unreachable;
            r.text = QStringLiteral("The mail server %1 did not answer within %2 s. Is the port right for the "
                                    "security chosen?")
                         .arg(where())
                         .arg(timeout);
        } else {
            r.outcome = O::Temporary;
            r.text =
                QStringLiteral("The connection to %1 failed before the message was sent (%2)").arg(where(), curlText);
        }
        return r;
    }

    // Plain text only where it cannot leave the machine.
    bool refusePlain(SmtpResult &r) const
    {
        if (settings.security != SmtpSettings::Security::None || net::isLoopback(settings.host))
            return false;
        r.outcome = SmtpResult::Outcome::Insecure;
        r.text = QStringLiteral("Security \"none\" is only allowed to this computer's own address; %1 needs "
                                "starttls or tls.")
                     .arg(settings.host);
        return true;
    }
};

SmtpSession::SmtpSession(SmtpSettings settings, QString password, int timeoutSeconds) : d(std::make_unique<Private>())
{
    net::initialiseCurl();
    d->settings = std::move(settings);
    d->password = std::move(password);
    d->timeout = qMax(1, timeoutSeconds);
}

void SmtpSession::setCancelFlag(const std::atomic_bool *cancelled)
{
    d->cancelled = cancelled;
}

SmtpSession::~SmtpSession()
{
    if (d->curl)
        curl_easy_cleanup(d->curl); // says QUIT on a connection still open
}

SmtpResult SmtpSession::send(const QString &from, const QStringList &recipients, const QByteArray &message)
{
    SmtpResult r;
    if (d->refusePlain(r))
        return r;
    d->prepare();
    d->upload = message;
    d->uploaded = 0;
    d->wholeMessageSent = false;
    // An address that would break the command line it goes on (a line end,
    // a bracket) is never sent: it is a refused recipient, and the others
    // still get the message.
    if (!mime::isEnvelopeAddress(from)) {
        r.outcome = SmtpResult::Outcome::Refused;
        r.text = QStringLiteral("The sender %1 is no address a mail server takes").arg(mime::headerSafe(from));
        return r;
    }
    const QByteArray sender = QByteArray("<") + from.toUtf8() + ">";
    curl_easy_setopt(d->curl, CURLOPT_MAIL_FROM, sender.constData());
    QStringList badRecipients;
    curl_slist *rcpt = nullptr;
    for (const QString &to : recipients) {
        if (mime::isEnvelopeAddress(to))
            rcpt = curl_slist_append(rcpt, (QByteArray("<") + to.toUtf8() + ">").constData());
        else
            badRecipients.append(mime::headerSafe(to).simplified() + QLatin1String(": no valid address"));
    }
    if (!rcpt) {
        r.outcome = SmtpResult::Outcome::Refused;
        r.refused = badRecipients;
        r.text = QStringLiteral("No recipient is an address a mail server takes: %1")
                     .arg(badRecipients.join(QLatin1String("; ")));
        return r;
    }
    curl_easy_setopt(d->curl, CURLOPT_MAIL_RCPT, rcpt);
    curl_easy_setopt(d->curl, CURLOPT_MAIL_RCPT_ALLLOWFAILS, 1L); // the others still get it
    curl_easy_setopt(d->curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(d->curl, CURLOPT_INFILESIZE_LARGE, curl_off_t(message.size()));
    curl_easy_setopt(d->curl, CURLOPT_READFUNCTION, &Private::read);
    curl_easy_setopt(d->curl, CURLOPT_READDATA, d.get());
    const CURLcode code = curl_easy_perform(d->curl);
    curl_slist_free_all(rcpt);
    d->upload.clear();
    d->rcptReplies = badRecipients + d->rcptReplies;
    return d->outcome(code);
}

SmtpResult SmtpSession::check()
{
    SmtpResult r;
    if (d->refusePlain(r))
        return r;
    d->prepare();
    curl_easy_setopt(d->curl, CURLOPT_CUSTOMREQUEST, "NOOP");
    curl_easy_setopt(d->curl, CURLOPT_NOBODY, 1L);
    r = d->outcome(curl_easy_perform(d->curl));
    if (r.outcome == SmtpResult::Outcome::Sent)
        r.text = QStringLiteral("Connected to %1 and logged in as %2.").arg(d->where(), d->settings.user);
    curl_easy_cleanup(d->curl);
    d->curl = nullptr;
    return r;
}

namespace {

QByteArray runForOutput(const QString &program, const QStringList &arguments, const QByteArray &input)
{
    const CommandResult r = runCommand(QStringList{program} + arguments, input, {30, 4096, nullptr});
    if (!r.started)
        throw HostError(QStringLiteral("Cannot start %1").arg(program));
    if (r.timedOut)
        throw HostError(QStringLiteral("%1 did not finish within 30 s").arg(program));
    if (r.signal != 0 || r.exitCode != 0)
        throw HostError(QStringLiteral("%1 failed (exit status %2)").arg(program).arg(r.exitCode));
    return r.output;
}

std::function<bool()> &keyringLocked()
{
    static std::function<bool()> check;
    return check;
}

QStringList keyringAttributes(const AccountSecret &account)
{
    return {QStringLiteral("service"), QStringLiteral("cheerpost"), QStringLiteral("account"), account.keyringAccount};
}

AccountSecret mailAccountSecret(const SmtpSettings &settings)
{
    return {QStringLiteral("mail account"),
            settings.user,
            settings.passwordCommand,
            settings.keyringAccount(),
            settings.signIn.isEmpty() ? settings.legacyKeyringAccount() : QString(),
            settings.passwordInMemory};
}

AccountSecret addressBookSecret(const CardDavSettings &settings)
{
    return {QStringLiteral("address book account"),
            settings.user,
            settings.passwordCommand,
            settings.keyringAccount(),
            {},
            settings.passwordInMemory};
}

} // namespace

void setKeyringLockedCheck(std::function<bool()> locked)
{
    keyringLocked() = std::move(locked);
}

QString accountPassword(const AccountSecret &account)
{
    if (!account.passwordCommand.trimmed().isEmpty()) {
        QStringList argv = QProcess::splitCommand(account.passwordCommand);
        const QString program = argv.takeFirst();
        try {
            return QString::fromUtf8(runForOutput(program, argv, {}).split('\n').value(0)).remove(QLatin1Char('\r'));
        } catch (const HostError &e) {
            throw HostError(QStringLiteral("The password command of the %1 gave no password: %2")
                                .arg(account.what, QString::fromUtf8(e.what())));
        }
    }
    if (account.user.isEmpty())
        return {};
    if (account.inMemory) {
        if (const std::optional<QString> kept = memory::find(account.keyringAccount))
            return *kept;
        throw HostError(QStringLiteral("No password for the %1 %2 in memory, where it is kept until you log out; "
                                       "enter it in File > Accounts")
                            .arg(account.what, account.user));
    }
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("secret-tool"));
    if (tool.isEmpty())
        throw HostError(QStringLiteral("No password for the %1: there is no desktop keyring tool (secret-tool) and "
                                       "no PasswordCommand")
                            .arg(account.what));
    if (keyringLocked() && keyringLocked()())
        throw HostError(QStringLiteral("The desktop keyring is locked, so the password of the %1 is not read here, "
                                       "where nothing may ask for it; it is read once the keyring is unlocked")
                            .arg(account.what));
    QByteArray out;
    try {
        try {
            out = runForOutput(tool, QStringList{QStringLiteral("lookup")} + keyringAttributes(account), {});
        } catch (const HostError &) {
            if (account.legacyKeyringAccount.isEmpty())
                throw;
            AccountSecret legacy = account;
            legacy.keyringAccount = account.legacyKeyringAccount;
            out = runForOutput(tool, QStringList{QStringLiteral("lookup")} + keyringAttributes(legacy), {});
        }
    } catch (const HostError &) {
        throw HostError(QStringLiteral("No password for the %1 %2 in the desktop keyring; enter it in File > "
                                       "Accounts")
                            .arg(account.what, account.user));
    }
    return QString::fromUtf8(out);
}

void storeAccountPassword(const AccountSecret &account, const QString &password)
{
    if (account.inMemory) {
        memory::keep(account.keyringAccount, password);
        return;
    }
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("secret-tool"));
    if (tool.isEmpty())
        throw HostError(QStringLiteral("There is no desktop keyring tool (secret-tool) to keep the password"));
    // The password goes on standard input, never on a command line.
    runForOutput(tool,
                 QStringList{QStringLiteral("store"),
                             QStringLiteral("--label=Cheerpost %1 %2").arg(account.what, account.user)} +
                     keyringAttributes(account),
                 password.toUtf8());
}

QString accountPassword(const SmtpSettings &settings)
{
    return accountPassword(mailAccountSecret(settings));
}

void storeAccountPassword(const SmtpSettings &settings, const QString &password)
{
    storeAccountPassword(mailAccountSecret(settings), password);
}

QString accountPassword(const CardDavSettings &settings)
{
    return accountPassword(addressBookSecret(settings));
}

void storeAccountPassword(const CardDavSettings &settings, const QString &password)
{
    storeAccountPassword(addressBookSecret(settings), password);
}

QByteArray messageForTransfer(const QByteArray &message, const QString &from)
{
    qsizetype end = message.indexOf("\r\n\r\n");
    const qsizetype lfEnd = message.indexOf("\n\n");
    if (end < 0 || (lfEnd >= 0 && lfEnd < end))
        end = lfEnd;
    if (end < 0)
        end = message.size();
    const QByteArray eol = end < message.size() && message.at(end) == '\r' ? "\r\n" : "\n";
    QList<QByteArray> kept;
    bool dropping = false, hasFrom = false;
    for (const QByteArray &line : message.left(end).split('\n')) {
        if (!line.startsWith(' ') && !line.startsWith('\t')) {
            const QByteArray name = line.left(line.indexOf(':')).trimmed().toLower();
            dropping = name == "bcc";
            hasFrom |= name == "from";
        }
        if (!dropping)
            kept.append(line);
    }
    QByteArray out = kept.join('\n') + message.mid(end);
    if (!hasFrom && !from.isEmpty())
        out.prepend("From: " + from.toUtf8() + eol);
    return out;
}

} // namespace hostmail::smtp
