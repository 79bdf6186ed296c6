// POST /certify, the display's one write, against a catalogue that records
// what reaches it: who may certify (the digest user, "operator" on a loopback
// display without a password, nobody on an open network display), requests
// from other sites refused, and the input bounded; /runs.json's filters
// checked before the catalogue is asked, and the archive's files listed when
// the registry cannot be read.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Certification.h"
#include "RunCatalogue.h"
#include "WebDisplay.h"
#include "digest_client.h"
#include "http_client.h"
#include "web_tree.h"

namespace {

namespace fs = std::filesystem;
using kivo::web::CatalogueAnswer;
using kivo::web::CertifyRequest;
using kivo::web::RunsQuery;
using kivo::web::WebDisplay;

class RecordingCatalogue : public kivo::web::RunCatalogue {
 public:
  std::optional<std::string> runs_json(const RunsQuery& query, std::string& error) override {
    const std::lock_guard lock(mutex_);
    queries.push_back(query);
    if (!reachable) {
      error = "registry.sqlite: database is locked";
      return std::nullopt;
    }
    return std::string("{\"archive\":true,\"registry\":{\"ok\":true},\"runs\":[]}");
  }
  CatalogueAnswer certify(const CertifyRequest& request) override {
    const std::lock_guard lock(mutex_);
    certified.push_back(request);
    return {200, "{\"ok\":true}"};
  }

  std::mutex mutex_;
  bool reachable = true;
  std::vector<RunsQuery> queries;
  std::vector<CertifyRequest> certified;
};

// A POST with `body` and the header lines `headers` (each ending in CRLF).
HttpResponse post(int port, const std::string& body, const std::string& headers = "Content-Type: application/json\r\n",
                  const std::string& target = "/certify") {
  const std::string request = "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n" +
                              headers + "Content-Length: " + std::to_string(body.size()) +
                              "\r\nConnection: close\r\n\r\n" + body;
  const std::string raw = http_exchange(port, request);
  HttpResponse response;
  if (raw.size() < 12) return response;
  response.status = std::stoi(raw.substr(9, 3));
  const std::size_t end = raw.find("\r\n\r\n");
  response.body = end == std::string::npos ? "" : raw.substr(end + 4);
  return response;
}

constexpr const char* kJudgement = R"({"id":31,"verdict":"Bad","comment":"beam mistuned"})";

class CertifyTest : public ::testing::Test {
 protected:
  void start(WebDisplay& display) {
    display.set_catalogue(catalogue);
    std::string error;
    ASSERT_TRUE(display.start(error)) << error;
    port = port_of(display.address());
  }

  TestWebTree tree;
  std::shared_ptr<RecordingCatalogue> catalogue = std::make_shared<RecordingCatalogue>();
  int port = 0;
};

TEST_F(CertifyTest, ALoopbackDisplayWithoutAPasswordCertifiesAsOperator) {
  WebDisplay display("127.0.0.1", 0, tree.root().string());
  start(display);
  const HttpResponse answer = post(port, kJudgement);
  EXPECT_EQ(answer.status, 200) << answer.body;
  ASSERT_EQ(catalogue->certified.size(), 1u);
  EXPECT_EQ(catalogue->certified[0].run_id, 31);
  EXPECT_EQ(catalogue->certified[0].verdict, "Bad");
  EXPECT_EQ(catalogue->certified[0].comment, "beam mistuned");
  EXPECT_EQ(catalogue->certified[0].user, "operator");
  // The page's own requests: same origin.
  const std::string own = "Content-Type: application/json\r\nOrigin: http://127.0.0.1:" + std::to_string(port) +
                          "\r\nSec-Fetch-Site: same-origin\r\n";
  EXPECT_EQ(post(port, kJudgement, own).status, 200);
  EXPECT_EQ(catalogue->certified.size(), 2u);
}

TEST_F(CertifyTest, RequestsFromOtherSitesAndUnboundedInputAreRefused) {
  WebDisplay display("127.0.0.1", 0, tree.root().string());
  start(display);
  const std::string json = "Content-Type: application/json\r\n";
  EXPECT_EQ(post(port, kJudgement, json + "Origin: http://evil.example\r\n").status, 403);
  EXPECT_EQ(post(port, kJudgement, json + "Sec-Fetch-Site: cross-site\r\n").status, 403);
  EXPECT_EQ(post(port, kJudgement, json + "Origin: null\r\n").status, 403);
  // What an HTML form on another site can send.
  EXPECT_EQ(post(port, "id=31&verdict=Bad", "Content-Type: application/x-www-form-urlencoded\r\n").status, 415);
  EXPECT_EQ(post(port, kJudgement, "Content-Type: text/plain\r\n").status, 415);
  EXPECT_EQ(post(port, R"({"id":31,"verdict":"Bad","comment":")" + std::string(5000, 'x') + "\"}").status, 413);
  EXPECT_EQ(post(port, R"({"id":31,"verdict":"Bad","comment":")" + std::string(600, 'x') + "\"}").status, 400);
  EXPECT_EQ(post(port, R"({"id":31,"verdict":"Excellent","comment":"x"})").status, 400);
  EXPECT_EQ(post(port, R"({"id":31,"verdict":"Bad","comment":""})").status, 400) << "Bad needs a reason";
  EXPECT_EQ(post(port, R"({"id":"31","verdict":"Good"})").status, 400);
  EXPECT_EQ(post(port, R"({"id":31,"verdict":"Bad","comment":"two\nlines"})").status, 400);
  EXPECT_EQ(post(port, "not json").status, 400);
  EXPECT_EQ(http_request(port, "GET", "/certify").status, 405);
  // Nothing else takes a POST.
  EXPECT_EQ(post(port, kJudgement, json, "/runs.json").status, 405);
  EXPECT_TRUE(catalogue->certified.empty());
  EXPECT_EQ(post(port, R"({"id":31,"verdict":"Good"})").status, 200) << "Good needs no comment";
}

TEST_F(CertifyTest, ADisplayOnTheNetworkWithoutAPasswordCertifiesNothing) {
  WebDisplay display("0.0.0.0", 0, tree.root().string());
  start(display);
  EXPECT_EQ(post(port, kJudgement).status, 403);
  EXPECT_TRUE(catalogue->certified.empty());
}

TEST_F(CertifyTest, WithAPasswordTheDigestUserCertifies) {
  const fs::path users = tree.root() / "users.htdigest";
  std::ofstream(users) << "shifter:kivo:" << md5("shifter:kivo:secret") << "\n";
  WebDisplay display("0.0.0.0", 0, tree.root().string());
  display.set_access({users.string(), "kivo", "", ""});
  start(display);
  const HttpResponse refused = post(port, kJudgement);
  ASSERT_EQ(refused.status, 401);
  const std::string challenge = http_request(port, "GET", "/").header("www-authenticate");
  const std::string wrong = digest_answer(challenge, "shifter", "guess", "/certify", "00000001", "POST");
  EXPECT_EQ(post(port, kJudgement, "Content-Type: application/json\r\n" + wrong).status, 401);
  const std::string right = digest_answer(challenge, "shifter", "secret", "/certify", "00000002", "POST");
  EXPECT_EQ(post(port, kJudgement, "Content-Type: application/json\r\n" + right).status, 200);
  ASSERT_EQ(catalogue->certified.size(), 1u);
  EXPECT_EQ(catalogue->certified[0].user, "shifter");
}

TEST_F(CertifyTest, RunsFiltersAreCheckedAndAnUnreadableRegistryListsTheArchive) {
  const fs::path archive = tree.root() / "archive";
  fs::create_directories(archive);
  WebDisplay display("127.0.0.1", 0, tree.root().string());
  display.set_archive(archive.string());
  start(display);
  const HttpResponse listed = http_request(port, "GET", "/runs.json?stand=b%20one&verdict=Bad&certification=none"
                                                        "&since=2024-05-01&until=2024-05-02T10:00:00Z&last=20");
  EXPECT_EQ(listed.status, 200);
  ASSERT_EQ(catalogue->queries.size(), 1u);
  const RunsQuery& query = catalogue->queries[0];
  EXPECT_EQ(query.stand, "b one");
  EXPECT_EQ(query.verdict, "Bad");
  EXPECT_EQ(query.certification, "none");
  EXPECT_EQ(query.since, "2024-05-01");
  EXPECT_EQ(query.until, "2024-05-02T10:00:00Z");
  EXPECT_EQ(query.last, 20);
  for (const char* bad : {"verdict=Fine", "certification=maybe", "since=yesterday", "last=0", "last=x",
                          "until=2024-05-02T10:00"})
    EXPECT_EQ(http_request(port, "GET", std::string("/runs.json?") + bad).status, 400) << bad;
  EXPECT_EQ(catalogue->queries.size(), 1u);

  catalogue->reachable = false;
  const HttpResponse fallback = http_request(port, "GET", "/runs.json");
  EXPECT_EQ(fallback.status, 200);
  EXPECT_NE(fallback.body.find("\"problem\":\"registry.sqlite: database is locked\""), std::string::npos)
      << fallback.body;
  EXPECT_NE(fallback.body.find("\"runs\":[]"), std::string::npos) << fallback.body;
}

TEST(CertificationInput, JudgementsAndCommentsAreBounded) {
  using kivo::web::certification_problem;
  EXPECT_EQ(certification_problem("Good", ""), "");
  EXPECT_EQ(certification_problem("not for analysis", "beam mistuned"), "");
  EXPECT_NE(certification_problem("not for analysis", "   "), "");
  EXPECT_NE(certification_problem("good", "x"), "") << "verdicts are spelled as shown";
  EXPECT_EQ(certification_problem("Bad", "Strahl verstimmt, Ökonom — ok"), "") << "UTF-8 text";
  EXPECT_NE(certification_problem("Bad", "\xff\xfe"), "");
  EXPECT_NE(certification_problem("Bad", "tab\there"), "");
  EXPECT_EQ(certification_problem("Bad", std::string(500, 'x')), "");
  EXPECT_NE(certification_problem("Bad", std::string(501, 'x')), "");
}

TEST(CertificationInput, OnlyTheDisplaysOwnPagesMayWrite) {
  using kivo::web::foreign_request_problem;
  EXPECT_EQ(foreign_request_problem(nullptr, nullptr, "127.0.0.1:8080"), "") << "not a browser: no Origin";
  EXPECT_EQ(foreign_request_problem("http://127.0.0.1:8080", "same-origin", "127.0.0.1:8080"), "");
  EXPECT_EQ(foreign_request_problem("https://monitor.example.org", nullptr, "monitor.example.org"), "")
      << "behind a proxy that serves HTTPS";
  EXPECT_NE(foreign_request_problem("http://127.0.0.1:9090", nullptr, "127.0.0.1:8080"), "");
  EXPECT_NE(foreign_request_problem("http://monitor.example.org.evil.net", nullptr, "monitor.example.org"), "");
  EXPECT_NE(foreign_request_problem(nullptr, "same-site", "127.0.0.1:8080"), "");
  EXPECT_NE(foreign_request_problem("http://127.0.0.1:8080", nullptr, nullptr), "");
}

}  // namespace
