#include "Tls.h"

#include <civetweb.h>
#include <dlfcn.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

namespace kivo::web {

namespace {

constexpr unsigned kFeatureTls = 2;  // mg_check_feature / mg_init_library bit

const std::string kUseHttpsMessage = "this display is served over HTTPS only: open it with https://\n";
const std::string kUseHttps = "HTTP/1.1 400 Bad Request\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
                              std::to_string(kUseHttpsMessage.size()) + "\r\nConnection: close\r\n\r\n" +
                              kUseHttpsMessage;

// A pass phrase asked for: none is given, so an encrypted key fails to load.
int no_pass_phrase(char*, int, int, void* asked) {
  if (asked) *static_cast<bool*>(asked) = true;
  return 0;
}

// OpenSSL's reason for the last failure, "" when it gave none.
std::string openssl_reason() {
  const unsigned long error = ERR_peek_last_error();
  ERR_clear_error();
  const char* reason = error ? ERR_reason_error_string(error) : nullptr;
  return reason ? reason : "";
}

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;
using Certificate = std::unique_ptr<X509, void (*)(X509*)>;
using Key = std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)>;

// Why the certificate and key in the PEM file `path` cannot serve; empty
// when they can.
std::string pem_problem(const std::string& path) {
  File file(std::fopen(path.c_str(), "r"), std::fclose);
  if (!file) return path + ": cannot be read";
  const Certificate certificate(PEM_read_X509(file.get(), nullptr, nullptr, nullptr), X509_free);
  if (!certificate) return path + ": the certificate cannot be read (" + openssl_reason() + ")";
  std::rewind(file.get());
  bool asked = false;
  const Key key(PEM_read_PrivateKey(file.get(), nullptr, no_pass_phrase, &asked), EVP_PKEY_free);
  if (asked)
    return path + ": the private key is encrypted, and kivo cannot ask for its pass phrase; write it out "
                  "without one (openssl pkey -in KEY -out PLAIN) into a file only kivo's user can read";
  if (!key) return path + ": the private key cannot be read (" + openssl_reason() + ")";
  if (X509_check_private_key(certificate.get(), key.get()) != 1) {
    ERR_clear_error();
    return path + ": the private key does not belong to the certificate";
  }
  return {};
}

// Told by OpenSSL when an accept ends: a client that spoke plain HTTP is
// answered so, on the bare socket, before civetweb closes it. The rest of its
// request is read first, so that the close does not reset the connection
// before the client has read the answer.
void answer_plain_http(const SSL* ssl, int where, int result) {
  if (!(where & SSL_CB_ACCEPT_EXIT) || result > 0 || ERR_GET_REASON(ERR_peek_last_error()) != SSL_R_HTTP_REQUEST)
    return;
  const int fd = SSL_get_fd(ssl);
  if (fd < 0 || send(fd, kUseHttps.data(), kUseHttps.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0) return;
  char rest[4096];
  while (recv(fd, rest, sizeof rest, MSG_DONTWAIT) > 0) {
  }
  shutdown(fd, SHUT_WR);
}

}  // namespace

std::string certificate_problem(const std::string& path) {
  std::ifstream in(path);
  if (!in) return path + ": cannot be read";
  std::ostringstream text;
  text << in.rdbuf();
  const std::string pem = text.str();
  if (pem.find("-----BEGIN CERTIFICATE-----") == std::string::npos)
    return path + ": no certificate in it (PEM, '-----BEGIN CERTIFICATE-----')";
  if (pem.find("PRIVATE KEY-----") == std::string::npos)
    return path + ": no private key in it (the PEM file holds the certificate and its key)";
  return pem_problem(path);
}

// civetweb 1.15 loads libssl by the name "libssl.so" and looks up the
// functions of OpenSSL 1.1, one of which OpenSSL 3 offers only under a new
// name. A small library under that name adds it and leads to OpenSSL for the
// rest; once loaded, civetweb's load of "libssl.so" finds it.
std::string enable_tls() {
  if (mg_check_feature(kFeatureTls) == 0) return "this civetweb library was built without TLS";
  dlopen(KIVO_SSL_COMPAT_LIBRARY, RTLD_NOW);
  if ((mg_init_library(kFeatureTls) & kFeatureTls) == 0)
    return "civetweb cannot load OpenSSL (libssl.so and libcrypto.so; install libssl-dev)";
  return {};
}

int prepare_tls_context(void* ssl_context, void*) {
  auto* context = static_cast<SSL_CTX*>(ssl_context);
  SSL_CTX_set_default_passwd_cb(context, no_pass_phrase);
  SSL_CTX_set_default_passwd_cb_userdata(context, nullptr);
  SSL_CTX_set_info_callback(context, answer_plain_http);
  return 0;
}

}  // namespace kivo::web
