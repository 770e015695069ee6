#pragma once

#include <QString>

namespace hostmail::net {

// The certificate check of an account's connection: the system's authorities
// and CaFile, with the host's name, or exactly one certificate trusted by its
// SHA-256 fingerprint (as openssl prints it, with or without "sha256:") for
// that host. Every other certificate is verified in full, name included. The
// fingerprint of the certificate seen is kept, for the message that names it.
struct TlsTrust {
    QString host; // the name (or address) the certificate must be for
    QString trustedFingerprint;
    QString seenFingerprint;
};
// Sets it on a libcurl handle; trust must outlive the transfers.
void applyTlsTrust(void *curlHandle, TlsTrust *trust);

// Whether a host name is a loopback address, where plain text is allowed.
bool isLoopback(const QString &host);

// Initialises libcurl once for the process.
void initialiseCurl();

} // namespace hostmail::net
