#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "WebDisplay.h"
#include "http_client.h"
#include "web_tree.h"

namespace {

using kivo::web::PageView;
using kivo::web::WebDisplay;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }


class WebDisplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(display.start(error)) << error;
    port = port_of(display.address());
  }

  HttpResponse get(const std::string& target, const std::string& headers = {}) {
    return http_request(port, "GET", target, headers);
  }

  TestWebTree tree;
  WebDisplay display{"127.0.0.1", 0, tree.root().string()};
  int port = 0;
};

TEST_F(WebDisplayTest, AddressNamesTheBoundPort) {
  EXPECT_TRUE(display.address().starts_with("http://127.0.0.1:"));
  EXPECT_TRUE(display.address().ends_with("/"));
  EXPECT_GT(port, 0);
}

TEST_F(WebDisplayTest, ServesPageAndJsroot) {
  const auto page = get("/");
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(page.body, TestWebTree::kIndex);
  EXPECT_EQ(page.header("content-type"), "text/html; charset=utf-8");

  const auto module = get("/display.mjs");
  EXPECT_EQ(module.status, 200);
  EXPECT_EQ(module.header("content-type"), "text/javascript; charset=utf-8");

  const auto jsroot = get("/jsroot/modules/main.mjs");
  EXPECT_EQ(jsroot.status, 200);
  EXPECT_EQ(jsroot.body, "export const y = 2;\n");

  EXPECT_EQ(get("/missing.html").status, 404);
  EXPECT_EQ(get("/jsroot/package.json").status, 404);
}

TEST_F(WebDisplayTest, HeadSendsHeadersOnly) {
  const auto head = http_request(port, "HEAD", "/");
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.header("content-length"), std::to_string(std::string(TestWebTree::kIndex).size()));
  EXPECT_TRUE(head.body.empty());
}

TEST_F(WebDisplayTest, WaitsForFirstCanvas) {
  const auto canvas = get("/canvas.json");
  EXPECT_EQ(canvas.status, 404);
  EXPECT_NE(canvas.body.find("waiting for first canvas"), std::string::npos);
  const auto status = get("/status.json");
  EXPECT_EQ(status.status, 200);
  EXPECT_EQ(status.body, R"({"version":0,"run":0,"events":0,"activity":null})");
}

// A view that says which parts it was asked for and how often it was serialised.
class CountingView : public PageView {
 public:
  std::string json(const std::vector<std::string>& parts) const override {
    ++serialised;
    std::string list;
    for (const std::string& part : parts) list += (list.empty() ? "\"" : ",\"") + part + "\"";
    return "{\"parts\":[" + list + "]}";
  }
  mutable std::atomic<int> serialised{0};
};

TEST_F(WebDisplayTest, TheQualityViewIsServedByVersionWithThePartsAsked) {
  EXPECT_EQ(get("/quality.json").body, R"({"version":0})") << "served before the host publishes one";
  auto view = std::make_shared<CountingView>();
  display.views().publish(WebDisplay::kQualityView, view);
  const auto first = get("/quality.json?since=0&parts=trends,reference");
  EXPECT_EQ(first.status, 200);
  EXPECT_EQ(first.header("content-type"), "application/json");
  EXPECT_EQ(first.header("cache-control"), "no-store");
  EXPECT_EQ(first.body, R"({"version":1,"view":{"parts":["trends","reference"]}})");
  EXPECT_EQ(get("/quality.json?since=0&parts=trends,reference").body, first.body);
  EXPECT_EQ(view->serialised, 1) << "serialised once per version and parts";
  EXPECT_EQ(get("/quality.json?since=0").body, R"({"version":1,"view":{"parts":[]}})");
  EXPECT_EQ(get("/quality.json?since=1&parts=trends").body, R"({"version":1})") << "nothing new";
  display.views().publish(WebDisplay::kQualityView, std::make_shared<CountingView>());
  EXPECT_EQ(get("/quality.json?since=1").body, R"({"version":2,"view":{"parts":[]}})");
  EXPECT_EQ(get("/other.json").status, 404) << "only views added are served";
}

// AddressSanitizer holds freed memory back in its quarantine: resident
// memory then says nothing of what the program keeps.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kResidentMeasures = false;
#else
constexpr bool kResidentMeasures = true;
#endif

// Resident memory of this process, in bytes.
long resident_bytes() {
  long pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

// Clients asking for parts no view has cannot make the server keep a text
// per query: every unknown name is ignored, so the text is made once.
TEST_F(WebDisplayTest, DistinctQueriesDoNotGrowMemory) {
  class LargeView : public PageView {
   public:
    std::string json(const std::vector<std::string>& parts) const override {
      ++serialised;
      return "{\"parts\":" + std::to_string(parts.size()) + ",\"padding\":\"" + std::string(100000, 'x') + "\"}";
    }
    mutable std::atomic<int> serialised{0};
  };
  auto view = std::make_shared<LargeView>();
  display.views().publish(WebDisplay::kQualityView, view);
  ASSERT_EQ(http_request(port, "HEAD", "/quality.json?parts=trends").status, 200);
  const long before = resident_bytes();
  for (int i = 0; i < 3000; ++i)
    ASSERT_EQ(http_request(port, "HEAD", "/quality.json?parts=trends," + std::to_string(i)).status, 200) << i;
  EXPECT_EQ(view->serialised, 1) << "the view made once for the parts it has";
  if (kResidentMeasures) {
    EXPECT_LT(resident_bytes() - before, 16L << 20) << "3000 distinct queries of a 100 kB view";
  }
  EXPECT_TRUE(get("/quality.json?parts=reference,trends,trends,x").body.starts_with(R"({"version":1,"view":{"parts":2,)"));
  EXPECT_EQ(view->serialised, 2) << "both parts, in any order, any number of times";
}

TEST_F(WebDisplayTest, PublishedCanvasAndStatus) {
  display.publish_text(R"({"_typename":"TCanvas","n":1})", 7, 1000);
  auto canvas = get("/canvas.json");
  EXPECT_EQ(canvas.status, 200);
  EXPECT_EQ(canvas.body, R"({"_typename":"TCanvas","n":1})");
  EXPECT_EQ(canvas.header("content-type"), "application/json");
  EXPECT_EQ(canvas.header("x-kivo-run"), "7");
  EXPECT_EQ(canvas.header("x-kivo-events"), "1000");
  const auto status = get("/status.json");
  EXPECT_EQ(status.body, R"({"version":1,"run":7,"events":1000,"activity":null})");
  const std::string instance = status.header("x-kivo-instance");
  ASSERT_FALSE(instance.empty());
  EXPECT_EQ(canvas.header("etag"), std::string(1, '"').append(instance).append("-1\""));

  display.publish_text(R"({"_typename":"TCanvas","n":2})", 8, 0);
  EXPECT_EQ(get("/canvas.json").body, R"({"_typename":"TCanvas","n":2})");
  EXPECT_EQ(get("/status.json").body, R"({"version":2,"run":8,"events":0,"activity":null})");
}

TEST_F(WebDisplayTest, ConditionalGetUsesEtag) {
  display.publish_text("{}", 1, 10);
  const auto first = get("/canvas.json");
  const std::string etag = first.header("etag");
  ASSERT_FALSE(etag.empty());

  const auto unchanged = get("/canvas.json", "If-None-Match: " + etag + "\r\n");
  EXPECT_EQ(unchanged.status, 304);
  EXPECT_TRUE(unchanged.body.empty());
  EXPECT_EQ(unchanged.header("etag"), etag);
  EXPECT_EQ(get("/canvas.json", "If-None-Match: \"x\", W/" + etag + "\r\n").status, 304);

  display.publish_text("{\"next\":1}", 1, 20);
  const auto changed = get("/canvas.json", "If-None-Match: " + etag + "\r\n");
  EXPECT_EQ(changed.status, 200);
  EXPECT_EQ(changed.body, "{\"next\":1}");
  EXPECT_NE(changed.header("etag"), etag);
}

// Page and JSROOT files: compressed once, tagged with their version, asked
// again only to be revalidated, and read anew when they change.
TEST_F(WebDisplayTest, StaticFilesGoCompressedWithAVersionTag) {
  std::string module;
  for (int i = 0; i < 400; ++i) module += "export const value" + std::to_string(i) + " = " + std::to_string(i) + ";\n";
  tree.write("page/big.mjs", module);
  const auto packed = get("/big.mjs", "Accept-Encoding: gzip\r\n");
  EXPECT_EQ(packed.status, 200);
  EXPECT_EQ(packed.header("content-encoding"), "gzip");
  EXPECT_EQ(packed.header("cache-control"), "no-cache");
  EXPECT_LT(packed.body.size(), module.size() / 3);
  EXPECT_EQ(gunzip(packed.body), module);
  const std::string etag = packed.header("etag");
  ASSERT_FALSE(etag.empty());
  EXPECT_EQ(get("/big.mjs").body, module) << "plain for clients without gzip";

  const auto unchanged = get("/big.mjs", "If-None-Match: " + etag + "\r\n");
  EXPECT_EQ(unchanged.status, 304);
  EXPECT_TRUE(unchanged.body.empty());
  EXPECT_EQ(unchanged.header("content-length"), "");

  tree.write("page/big.mjs", "export const changed = 1;\n");
  const auto changed = get("/big.mjs", "If-None-Match: " + etag + "\r\n");
  EXPECT_EQ(changed.status, 200);
  EXPECT_EQ(changed.body, "export const changed = 1;\n");
  EXPECT_NE(changed.header("etag"), etag);
}

TEST_F(WebDisplayTest, ConnectionsStayOpenAndTheFaviconIsServed) {
  tree.write("page/favicon.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\"/>");
  const std::string answers = http_exchange(port, "GET /favicon.ico HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"
                                                  "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
  const auto second = answers.find("HTTP/1.1", 1);
  ASSERT_NE(second, std::string::npos) << answers;
  const std::string first = answers.substr(0, second);
  EXPECT_TRUE(first.starts_with("HTTP/1.1 200")) << first;
  EXPECT_TRUE(contains(first, "Content-Type: image/svg+xml")) << first;
  EXPECT_TRUE(contains(first, "Connection: keep-alive")) << first;
  EXPECT_TRUE(answers.substr(second).starts_with("HTTP/1.1 200")) << answers;
  EXPECT_TRUE(contains(answers.substr(second), TestWebTree::kIndex));
}

// Every thread the display starts yields the processor to event processing
// (the thread that started it): their nice value is higher, also when the
// tests run under nice.
TEST_F(WebDisplayTest, ServerThreadsYieldToEventProcessing) {
  ASSERT_EQ(get("/status.json").status, 200);
  const int starter = getpriority(PRIO_PROCESS, 0);
  int server_threads = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    const auto thread = static_cast<id_t>(std::stoi(task.path().filename().string()));
    std::ifstream name_file(task.path() / "comm");
    std::string name;
    std::getline(name_file, name);
    if (!name.starts_with("civetweb")) continue;
    // The highest nice value is as far as a thread can yield.
    EXPECT_GT(getpriority(PRIO_PROCESS, thread), std::min(starter, 18)) << name << " (thread " << thread << ")";
    ++server_threads;
  }
  EXPECT_GT(server_threads, 1) << "the listening thread and the workers";
  EXPECT_EQ(getpriority(PRIO_PROCESS, 0), starter) << "the starting thread keeps its priority";
}

TEST_F(WebDisplayTest, PathEscapesAreRefused) {
  for (const char* target :
       {"/../CMakeLists.txt", "/%2e%2e/CMakeLists.txt", "/%2E%2E%2Fsecret.txt", "/..%2fsecret.txt",
        "//etc/passwd", "/web/../..", "/web/../../secret.txt", "/up/secret.txt", "/link.txt",
        "/jsroot/modules/../../secret.txt", "/jsroot/modules/%2e%2e/package.json",
        "/./index.html", "/page\\..\\secret.txt", "/etc/passwd",
        "/jsroot/modules/", "/jsroot/modules"}) {
    const auto response = get(target);
    EXPECT_NE(response.status, 200) << target;
    EXPECT_EQ(response.body.find(TestWebTree::kSecret), std::string::npos) << target;
    EXPECT_EQ(response.body.find("root:"), std::string::npos) << target;
  }
}

TEST_F(WebDisplayTest, OnlyReadMethodsAreAllowed) {
  display.publish_text("{}", 3, 30);
  for (const char* method : {"POST", "PUT", "DELETE", "PATCH", "OPTIONS"}) {
    for (const char* target : {"/", "/canvas.json", "/status.json", "/index.html"}) {
      const auto response = http_request(port, method, target, "Content-Length: 0\r\n");
      EXPECT_EQ(response.status, 405) << method << ' ' << target;
      EXPECT_EQ(response.header("allow"), "GET, HEAD") << method << ' ' << target;
    }
  }
  EXPECT_EQ(get("/status.json").body, R"({"version":1,"run":3,"events":30,"activity":null})");
}

// Pages of other sites get no leave to read the display: no CORS headers,
// and a preflight is refused like any other method.
TEST_F(WebDisplayTest, NoCrossOriginAccess) {
  display.publish_text("{}", 3, 30);
  const std::string origin = "Origin: http://elsewhere.example\r\n";
  const auto preflight = http_request(port, "OPTIONS", "/status.json",
                                      origin + "Access-Control-Request-Method: GET\r\n");
  EXPECT_EQ(preflight.status, 405);
  for (const auto& response : {preflight, get("/status.json", origin), get("/", origin)}) {
    for (const auto& [name, value] : response.headers)
      EXPECT_FALSE(name.starts_with("access-control-")) << name << ": " << value;
  }
}

TEST_F(WebDisplayTest, ReadersNeverSeeATornSnapshot) {
  std::atomic<bool> done{false};
  std::thread publisher([&] {
    for (int i = 1; i <= 2000; ++i) display.publish_text("{\"n\":" + std::to_string(i) + "}", 1, i);
    done = true;
  });
  int checked = 0;
  while (!done || checked < 20) {
    const auto canvas = get("/canvas.json");
    if (canvas.status != 200) continue;
    const std::string etag = canvas.header("etag");
    const std::string version = etag.substr(etag.rfind('-') + 1, etag.size() - etag.rfind('-') - 2);
    EXPECT_EQ(canvas.body, "{\"n\":" + version + "}");
    EXPECT_EQ(canvas.header("x-kivo-events"), version);
    ++checked;
  }
  publisher.join();
  EXPECT_EQ(get("/status.json").body, R"({"version":2000,"run":1,"events":2000,"activity":null})");
}

TEST(WebDisplayStart, BusyPortNamesAddressAndReason) {
  TestWebTree tree;
  WebDisplay first("127.0.0.1", 0, tree.root().string());
  std::string error;
  ASSERT_TRUE(first.start(error)) << error;
  const int port = port_of(first.address());

  WebDisplay second("127.0.0.1", port, tree.root().string());
  EXPECT_FALSE(second.start(error));
  EXPECT_EQ(error, "cannot bind to 127.0.0.1:" + std::to_string(port) + ": Address already in use");
}

TEST(WebDisplayStart, MissingPageFolderOrJsrootIsReported) {
  WebDisplay display("127.0.0.1", 0, "/nonexistent/kivo-web");
  std::string error;
  EXPECT_FALSE(display.start(error));
  EXPECT_NE(error.find("/nonexistent/kivo-web/page"), std::string::npos) << error;

  TestWebTree tree;
  std::filesystem::remove_all(tree.root() / "node_modules");
  WebDisplay without_jsroot("127.0.0.1", 0, tree.root().string());
  EXPECT_FALSE(without_jsroot.start(error));
  EXPECT_EQ(error, "web display: JSROOT not found in " + tree.root().string() +
                       "/node_modules/jsroot (run ./run.sh setup)");
}

TEST(WebDisplayStart, BadBindAddressIsReported) {
  TestWebTree tree;
  std::string error;
  WebDisplay malformed("256.1.1.1", 0, tree.root().string());
  EXPECT_FALSE(malformed.start(error));
  EXPECT_NE(error.find("256.1.1.1"), std::string::npos) << error;
  WebDisplay list("18089,127.0.0.1", 0, tree.root().string());
  EXPECT_FALSE(list.start(error)) << "civetweb would listen on port 18089 of every interface";
  EXPECT_EQ(error, "web display on 18089,127.0.0.1:0: not a numeric IPv4 or IPv6 address");

  // 192.0.2.0/24 is reserved for documentation and never assigned to this host.
  WebDisplay foreign("192.0.2.1", 0, tree.root().string());
  EXPECT_FALSE(foreign.start(error));
  EXPECT_NE(error.find("cannot bind to 192.0.2.1"), std::string::npos) << error;
}

TEST(WebDisplayStart, ServesTheRealPage) {
  WebDisplay display("127.0.0.1", 0, KIVO_WEB_DIR);
  std::string error;
  ASSERT_TRUE(display.start(error)) << error;
  const int port = port_of(display.address());
  const auto page = http_request(port, "GET", "/");
  EXPECT_EQ(page.status, 200);
  EXPECT_NE(page.body.find("<title>KIVO online monitoring</title>"), std::string::npos);
  EXPECT_EQ(http_request(port, "HEAD", "/jsroot/modules/main.mjs").status, 200);
}

}  // namespace
