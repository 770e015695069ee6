#include "hostmail/net/Http.h"

#include "hostmail/net/Tls.h"

#include <curl/curl.h>
#include <libpsl.h>

namespace hostmail::net {

bool sameSite(const QString &a, const QString &b)
{
    if (a.compare(b, Qt::CaseInsensitive) == 0)
        return true;
    static psl_ctx_t *const psl = psl_latest(nullptr);
    const QByteArray x = a.toLower().toUtf8(), y = b.toLower().toUtf8();
    const char *dx = psl ? psl_registrable_domain(psl, x.constData()) : nullptr;
    const char *dy = psl ? psl_registrable_domain(psl, y.constData()) : nullptr;
    return dx && dy && qstrcmp(dx, dy) == 0;
}

bool secureEnough(const QUrl &url)
{
    return url.scheme() == QLatin1String("https") || (url.scheme() == QLatin1String("http") && isLoopback(url.host()));
}

struct Http::Private {
    HttpAccount account;
    QDeadlineTimer deadline;
    const std::atomic_bool *cancelled = nullptr;
    qint64 maxReplyBytes = 0;
    CURL *curl = nullptr;
    TlsTrust trust;
    QString untrusted;
    QString otherSite;

    struct Transfer {
        Reply *reply;
        qint64 max;
    };

    // Whether the login may go to url: the rule of every request.
    QString refusal(const QUrl &url)
    {
        if (!secureEnough(url))
            return QStringLiteral("the server sends %1 over plain http (%2), which would show the login and the "
                                  "data to anyone on the way; only https is used")
                .arg(account.what, url.toString(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery));
        const QString host = url.host();
        if (sameSite(host, account.site) || account.allowedSite.compare(host, Qt::CaseInsensitive) == 0)
            return {};
        otherSite = host;
        return QStringLiteral("the server sends %1 to another site, %2; the login goes there only once you allow "
                              "that site in File > Accounts")
            .arg(account.what, host);
    }

    Reply once(const char *method, const QUrl &url, const QByteArray &body, const QList<QByteArray> &headers,
               QUrl *redirect)
    {
        Reply r;
        const qint64 left = deadline.remainingTime();
        if ((cancelled && cancelled->load()) || left == 0) {
            r.error = left == 0 ? QStringLiteral("the server did not finish within the time allowed")
                                : QStringLiteral("cancelled");
            return r;
        }
        curl_easy_reset(curl);
        const QByteArray address = url.toEncoded();
        curl_easy_setopt(curl, CURLOPT_URL, address.constData());
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method);
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L); // followed in request(), under its rules
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kTimeoutSeconds);
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kTimeoutSeconds);
        // A whole request, however slowly the server trickles, ends in time.
        const qint64 bound = kRequestSeconds * 1000;
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, long(left < 0 ? bound : qMin(left, bound)));
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &Private::progress);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
        if (!account.caFile.isEmpty())
            curl_easy_setopt(curl, CURLOPT_CAINFO, account.caFile.toLocal8Bit().constData());
        // The trusted certificate is the account's host's alone.
        trust.host = url.host();
        trust.trustedFingerprint =
            url.host().compare(account.site, Qt::CaseInsensitive) == 0 ? account.trustedCertificate : QString();
        applyTlsTrust(curl, &trust);
        if (account.bearer && !account.secret.isEmpty()) {
            curl_easy_setopt(curl, CURLOPT_HTTPAUTH, long(CURLAUTH_BEARER));
            curl_easy_setopt(curl, CURLOPT_XOAUTH2_BEARER, account.secret.toUtf8().constData());
        } else if (!account.user.isEmpty()) {
            curl_easy_setopt(curl, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC | CURLAUTH_DIGEST));
            curl_easy_setopt(curl, CURLOPT_USERNAME, account.user.toUtf8().constData());
            curl_easy_setopt(curl, CURLOPT_PASSWORD, account.secret.toUtf8().constData());
        }
        if (!body.isNull()) {
            curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.constData());
            curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
        } else if (qstrcmp(method, "GET") == 0) {
            curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
        }
        curl_slist *list = nullptr;
        for (const QByteArray &h : headers)
            list = curl_slist_append(list, h.constData());
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
        Transfer transfer{&r, maxReplyBytes};
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Private::write);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
        curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Private::header);
        curl_easy_setopt(curl, CURLOPT_HEADERDATA, &r);
        const CURLcode code = curl_easy_perform(curl);
        curl_slist_free_all(list);
        if (code == CURLE_PEER_FAILED_VERIFICATION) {
            if (!trust.seenFingerprint.isEmpty())
                untrusted = QStringLiteral("sha256:") + trust.seenFingerprint;
            r.error = QStringLiteral("its certificate could not be verified (SHA-256 fingerprint %1); trust it only "
                                     "if you know it to be the server's")
                          .arg(trust.seenFingerprint.isEmpty() ? QStringLiteral("unknown") : trust.seenFingerprint);
            return r;
        }
        if (code != CURLE_OK) {
            if (r.tooLarge)
                r.error =
                    QStringLiteral("the server's answer is larger than %1 MB").arg(qMax(1, int(maxReplyBytes >> 20)));
            else if (code == CURLE_ABORTED_BY_CALLBACK)
                r.error = QStringLiteral("cancelled");
            else if (code == CURLE_OPERATION_TIMEDOUT)
                r.error = QStringLiteral("the server did not answer in time");
            else if (code == CURLE_PARTIAL_FILE || code == CURLE_GOT_NOTHING || code == CURLE_RECV_ERROR)
                r.error = QStringLiteral("the server closed the connection before its answer was complete");
            else
                r.error = QString::fromUtf8(curl_easy_strerror(code));
            return r;
        }
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &r.status);
        const char *location = nullptr;
        if (r.status >= 300 && r.status < 400 &&
            curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &location) == CURLE_OK && location)
            *redirect = QUrl::fromEncoded(location);
        return r;
    }

    static int progress(void *self, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
    {
        const auto *p = static_cast<Private *>(self);
        return p->cancelled && p->cancelled->load() ? 1 : 0;
    }
    static size_t write(char *data, size_t size, size_t count, void *transfer)
    {
        auto *t = static_cast<Transfer *>(transfer);
        const size_t n = size * count;
        if (t->reply->body.size() + qint64(n) > t->max) {
            t->reply->tooLarge = true;
            return 0; // ends the transfer
        }
        t->reply->body.append(data, qsizetype(n));
        return n;
    }
    static size_t header(char *data, size_t size, size_t count, void *reply)
    {
        auto *r = static_cast<Reply *>(reply);
        const QByteArray line(data, qsizetype(qMin<size_t>(size * count, 8192)));
        const QByteArray lower = line.toLower();
        if (lower.startsWith("etag:")) {
            r->etag = line.mid(5).trimmed();
        } else if (lower.startsWith("retry-after:")) {
            bool number = false;
            const int seconds = line.mid(12).trimmed().toInt(&number);
            r->retryAfterSeconds = number && seconds >= 0 ? seconds : -1;
        } else if (line.startsWith("HTTP/")) {
            r->etag.clear(); // a redirect's headers do not count
            r->retryAfterSeconds = -1;
        }
        return size * count;
    }
};

Http::Http(HttpAccount account, QDeadlineTimer deadline, const std::atomic_bool *cancelled, qint64 maxReplyBytes)
    : d(std::make_unique<Private>())
{
    initialiseCurl();
    d->account = std::move(account);
    d->deadline = deadline;
    d->cancelled = cancelled;
    d->maxReplyBytes = maxReplyBytes;
    d->curl = curl_easy_init();
}

Http::~Http()
{
    curl_easy_cleanup(d->curl);
}

Reply Http::request(const char *method, QUrl url, const QByteArray &body, const QList<QByteArray> &headers)
{
    for (int hop = 0; hop <= 5; ++hop) {
        Reply r;
        if (const QString no = d->refusal(url); !no.isEmpty()) {
            r.error = no;
            return r;
        }
        QUrl next;
        r = d->once(method, url, body, headers, &next);
        if (!r.error.isEmpty() || r.status < 300 || r.status >= 400 || next.isEmpty())
            return r;
        url = next;
    }
    Reply r;
    r.error = QStringLiteral("the server sends the request from one address to another without end");
    return r;
}

void Http::setSecret(const QString &secret)
{
    d->account.secret = secret;
}

QString Http::untrustedCertificate() const
{
    return d->untrusted;
}

QString Http::otherSite() const
{
    return d->otherSite;
}

} // namespace hostmail::net
