// Heads that a proxy in front of the display could frame otherwise than
// civetweb does are refused before any handler, on every path, and their
// connection closed, so that nothing after them is read as a request.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "WebDisplay.h"
#include "http_client.h"
#include "web_tree.h"

namespace {

std::size_t answers_in(const std::string& raw) {
  std::size_t count = 0;
  for (std::size_t at = raw.find("HTTP/1.1 "); at != std::string::npos; at = raw.find("HTTP/1.1 ", at + 1)) ++count;
  return count;
}

class RequestHead : public ::testing::Test {
 protected:
  void SetUp() override {
    display = std::make_unique<kivo::web::WebDisplay>("127.0.0.1", 0, tree.root().string());
    std::string error;
    ASSERT_TRUE(display->start(error)) << error;
    port = port_of(display->address());
  }

  TestWebTree tree;
  std::unique_ptr<kivo::web::WebDisplay> display;
  int port = 0;
};

// Each head is followed by a second request a proxy would take for the
// first one's body: it must never be answered.
TEST_F(RequestHead, AmbiguousFramingIsRefusedAndEndsTheConnection) {
  const std::string smuggled = "GET /status.json HTTP/1.1\r\nHost: x\r\n\r\n";
  const std::string length = std::to_string(smuggled.size());
  const std::string many_lines = [] {
    std::string lines;
    for (int i = 0; i < 70; ++i) lines += "X-Line-" + std::to_string(i) + ": 1\r\n";
    return lines + "Transfer-Encoding: chunked\r\n";
  }();
  for (const std::string& headers :
       {"Content-Length: 0\r\nContent-Length: " + length + "\r\n", "Content-Length: " + length + "\r\nContent-Length: 0\r\n",
        "Content-Length: 0, " + length + "\r\n", "Content-Length: " + length + "\r\nTransfer-Encoding: chunked\r\n",
        std::string("Transfer-Encoding : chunked\r\n"), "Content-Length : " + length + "\r\n",
        std::string("Transfer-Encoding: gzip\r\n"), std::string("Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n"),
        many_lines}) {
    for (const char* path : {"/status.json", "/", "/archive/run1.root", "/no-such-thing"}) {
      const std::string raw =
          http_exchange(port, std::string("GET ") + path + " HTTP/1.1\r\nHost: x\r\n" + headers + "\r\n" + smuggled);
      EXPECT_TRUE(raw.starts_with("HTTP/1.1 400 ")) << headers << raw;
      EXPECT_EQ(answers_in(raw), 1u) << "the connection ends with the refusal: " << headers << raw;
      EXPECT_NE(raw.find("Connection: close"), std::string::npos) << raw;
    }
  }
}

TEST_F(RequestHead, SoundHeadsAreAnsweredAsBefore) {
  const std::string sixty_three = [] {
    std::string lines;
    for (int i = 0; i < 62; ++i) lines += "X-Line-" + std::to_string(i) + ": 1\r\n";
    return lines;
  }();
  for (const std::string& headers : {std::string("Content-Length: 0\r\n"), std::string("Content-Length:  3 \r\n"),
                                     std::string("X-Empty:\r\nX-Spaced:   \r\n"), sixty_three}) {
    const std::string body = headers.find("3 ") != std::string::npos ? "abc" : "";
    const std::string raw = http_exchange(port, "GET /status.json HTTP/1.1\r\nHost: x\r\n" + headers +
                                                    "\r\n" + body + "GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(raw.starts_with("HTTP/1.1 200 ")) << headers << raw;
    EXPECT_EQ(answers_in(raw), 2u) << "kept open for the next request: " << headers << raw;
  }
}

TEST_F(RequestHead, APathThatDecodesToAControlCharacterNamesNothing) {
  for (const char* path : {"/index.html%00", "/index.html%00.txt", "/%00", "/status.json%00", "/metrics%0a",
                           "/index%01.html", "/index.html%7f"})
    EXPECT_EQ(http_request(port, "GET", path).status, 404) << path;
  EXPECT_EQ(http_request(port, "GET", "/index.htm%6c").body, TestWebTree::kIndex) << "a letter decodes as written";
  EXPECT_EQ(http_request(port, "GET", "/status.json?x=%00").status, 200) << "the query is not the path";
}

}  // namespace
