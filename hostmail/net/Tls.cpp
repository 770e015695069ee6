#include "hostmail/net/Tls.h"

#include <QByteArray>
#include <QStringList>

#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace hostmail::net {

namespace {

// The certificate's SHA-256 fingerprint as openssl prints it: AB:CD:...
QString fingerprint(X509 *cert)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!cert || X509_digest(cert, EVP_sha256(), digest, &length) != 1)
        return {};
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex(':').toUpper());
}

QString normalFingerprint(const QString &text)
{
    QString hex = text.toUpper().trimmed();
    for (const char *prefix : {"SHA256=", "SHA256:", "SHA256 "})
        if (hex.startsWith(QLatin1String(prefix)))
            hex = hex.mid(7);
    hex.remove(QLatin1Char(':')).remove(QLatin1Char(' '));
    return hex;
}

// Verifies the server's certificate as OpenSSL would, and notes its
// fingerprint; a certificate whose fingerprint the user trusts passes.
int verifyCertificate(X509_STORE_CTX *store, void *data)
{
    auto *trust = static_cast<TlsTrust *>(data);
    trust->seenFingerprint = fingerprint(X509_STORE_CTX_get0_cert(store));
    if (!trust->trustedFingerprint.isEmpty() &&
        normalFingerprint(trust->seenFingerprint) == normalFingerprint(trust->trustedFingerprint))
        return 1;
    // Any other certificate: the chain and the host's name, as libcurl checks
    // them when no fingerprint is trusted.
    X509_VERIFY_PARAM *param = X509_STORE_CTX_get0_param(store);
    const QByteArray host = trust->host.toUtf8();
    if (host.isEmpty())
        return 0;
    if (X509_VERIFY_PARAM_set1_ip_asc(param, host.constData()) != 1) {
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        if (X509_VERIFY_PARAM_set1_host(param, host.constData(), size_t(host.size())) != 1)
            return 0;
    }
    return X509_verify_cert(store);
}

CURLcode sslContext(CURL *, void *context, void *data)
{
    SSL_CTX_set_cert_verify_callback(static_cast<SSL_CTX *>(context), &verifyCertificate, data);
    return CURLE_OK;
}

} // namespace

void applyTlsTrust(void *curlHandle, TlsTrust *trust)
{
    CURL *curl = curlHandle;
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    // The name is checked in verifyCertificate, where the one trusted
    // certificate may be let through without it and no other is; libcurl
    // checks it again wherever no certificate is trusted by its fingerprint.
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, trust->trustedFingerprint.isEmpty() ? 2L : 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, &sslContext);
    curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, trust);
}

bool isLoopback(const QString &host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 || host == QLatin1String("::1"))
        return true;
    const QStringList parts = host.split(QLatin1Char('.'));
    bool numbers = parts.size() == 4;
    for (const QString &part : parts) {
        bool ok = false;
        numbers = numbers && part.toInt(&ok) >= 0 && ok && part.toInt() < 256;
    }
    return numbers && parts.first() == QLatin1String("127");
}

void initialiseCurl()
{
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    Q_UNUSED(initialised)
}

} // namespace hostmail::net
