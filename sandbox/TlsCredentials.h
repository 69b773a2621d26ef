#pragma once

#include "core/Result.h"

#include <string>

namespace vantrel::sandbox {

/**
 * A throwaway certificate authority and a server certificate it signed, in PEM form. The server certificate
 * names DNS:localhost and IP:127.0.0.1 (and IP:::1); clients trust caCertificatePem.
 */
struct TlsCredentials {
    std::string caCertificatePem;
    std::string serverCertificatePem;
    std::string serverKeyPem; ///< private key; wipe() after it has been loaded into the TLS context

    /** Makes a fresh CA (P-256 key, self-signed, 30 days) and a server certificate signed by it. */
    static Result<TlsCredentials> issue();

    /** Overwrites the private key text with zeros. */
    void wipe();
};

} // namespace vantrel::sandbox
