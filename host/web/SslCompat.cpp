// Loaded only for civetweb's TLS (see enable_tls in Tls.cpp): the one
// OpenSSL 1.1 function civetweb 1.15 looks up that OpenSSL 3 renamed.
#include <openssl/ssl.h>

#if OPENSSL_VERSION_MAJOR >= 3
#undef SSL_get_peer_certificate
extern "C" X509* SSL_get_peer_certificate(const SSL* ssl) { return SSL_get1_peer_certificate(ssl); }
#endif
