// POST /certify, the one write the display takes: a shift's judgement of a
// run, {"id": N, "verdict": "Good" | "Bad" | "not for analysis",
// "comment": "..."}, stored by the run catalogue with the user who gave it.
// Only an authenticated digest user may certify; without --auth, only on a
// display bound to a loopback address, as "operator". Requests from other
// sites' pages are refused: the body must be JSON (which a form cannot send
// and another site's script cannot send without a preflight that kivo never
// allows), an Origin or Sec-Fetch-Site header must name this display, and the
// body is bounded.
#ifndef KIVO_HOST_WEB_CERTIFICATION_H
#define KIVO_HOST_WEB_CERTIFICATION_H

#include <string>

#include "RunCatalogue.h"

struct mg_connection;

namespace kivo::web {

inline constexpr const char* kCertifyPath = "/certify";
inline constexpr std::size_t kMaxCertifyBody = 4096;

// Who may certify on this display.
struct CertifyAccess {
  bool digest = false;           // --auth: the digest user, already admitted
  bool loopback_bind = false;    // the display listens on a loopback address only
};

// Answers the request; returns its status.
int respond_certify(mg_connection* connection, RunCatalogue* catalogue, const CertifyAccess& access);

// Empty when a request with these headers (null when absent) comes from this
// display's own page, else why not.
std::string foreign_request_problem(const char* origin, const char* fetch_site, const char* host);

}  // namespace kivo::web

#endif
