// HTTPS for the display: the certificate checked before anything starts,
// civetweb made able to load OpenSSL, and the TLS set-up of its server.
#ifndef KIVO_HOST_WEB_TLS_H
#define KIVO_HOST_WEB_TLS_H

#include <string>

namespace kivo::web {

// TLS 1.2 is offered only with ephemeral elliptic-curve key exchange (forward
// secrecy) and authenticated encryption; TLS 1.3 keeps OpenSSL's own suites.
inline constexpr const char* kTls12Ciphers =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES256-GCM-SHA384:"
    "ECDHE-RSA-AES256-GCM-SHA384:ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305";
// civetweb's "ssl_protocol_version" for TLS 1.2 and later.
inline constexpr const char* kTlsFromVersion12 = "4";

// Empty when `path` is a PEM file with a certificate and the private key that
// belongs to it, not encrypted; otherwise why it cannot serve HTTPS.
std::string certificate_problem(const std::string& path);

// Makes civetweb able to serve HTTPS (it loads OpenSSL at run time); empty on
// success, otherwise why it cannot.
std::string enable_tls();

// civetweb's init_ssl callback: an encrypted key fails instead of asking for
// its pass phrase on the terminal, and a client speaking plain HTTP to the
// HTTPS port is told to use https. Returns 0: civetweb loads the certificate.
int prepare_tls_context(void* ssl_context, void* user_data);

}  // namespace kivo::web

#endif
