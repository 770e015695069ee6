#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QString>
#include <QUrl>

#include <atomic>
#include <memory>

namespace hostmail::net {

// Whether two hosts are one site: the same registrable domain (a provider's
// contacts host under its own domain), or for an address or a name without
// a public suffix the very same host.
bool sameSite(const QString &a, const QString &b);
// Whether a login may travel to url at all: over https, or plain http to
// this computer's own address.
bool secureEnough(const QUrl &url);

// Who the requests log in as, and where they may go.
struct HttpAccount {
    QString site;                                      // the host the user typed, or a preset named
    QString allowedSite;                               // another site the user let the login go to
    QString caFile;                                    // certificates to trust besides the system's
    QString trustedCertificate;                        // sha256:… of the site's certificate, trusted as it is
    QString user;                                      // Basic or Digest login; empty: none
    QString secret;                                    // the password, or the access token with bearer
    bool bearer = false;                               // an OAuth 2.0 access token (Authorization: Bearer)
    QString what = QStringLiteral("the address book"); // what travels, for the messages
};

struct Reply {
    long status = 0;
    QByteArray body;
    QByteArray etag;
    int retryAfterSeconds = -1; // the server's Retry-After, in seconds
    QString error;              // the transfer failed: no status
    bool tooLarge = false;
};

// One HTTP(S) connection, reused for every request of a sync or a sign-in.
// Every request, each redirect included, goes only over https (plain http
// to loopback alone) and only to the account's site or one the user
// allowed; a redirect elsewhere is not followed and names the site. Each
// request ends within its time, all of them within the deadline, and at
// once when cancelled. What a reply may hold is bounded.
class Http {
public:
    Http(HttpAccount account, QDeadlineTimer deadline, const std::atomic_bool *cancelled,
         qint64 maxReplyBytes = 64LL * 1024 * 1024);
    ~Http();
    Http(const Http &) = delete;
    Http &operator=(const Http &) = delete;

    Reply request(const char *method, QUrl url, const QByteArray &body, const QList<QByteArray> &headers);
    // A new access token, after the old one expired.
    void setSecret(const QString &secret);
    // The certificate that did not verify, for the user to trust or not.
    QString untrustedCertificate() const;
    // A site the server sent a request to that the user did not allow.
    QString otherSite() const;

    static constexpr long kTimeoutSeconds = 60;    // no byte for that long ends a request
    static constexpr qint64 kRequestSeconds = 300; // one request, however slowly it trickles

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace hostmail::net
