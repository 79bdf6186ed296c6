// The archive over HTTP: byte ranges as RFC 9110 has them (one, several, the
// last N, none satisfiable, malformed ones ignored), only run files directly
// inside the archive directory, by their names as written (no path, link,
// temporary, pipe or other file, no name cut at a decoded NUL), the list of
// runs, and the password covering all of it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ArchiveFiles.h"
#include "ArchiveListing.h"
#include "WebDisplay.h"
#include "http_client.h"
#include "web_tree.h"

namespace {

namespace fs = std::filesystem;
using kivo::web::ByteRange;
using kivo::web::parse_ranges;
using kivo::web::RangeAnswer;

std::string ranges_of(const char* header, std::uint64_t size) {
  std::vector<ByteRange> ranges;
  const RangeAnswer answer = parse_ranges(header, size, ranges);
  if (answer == RangeAnswer::whole) return "whole";
  if (answer == RangeAnswer::unsatisfiable) return "none";
  std::string text;
  for (const ByteRange& range : ranges) {
    if (!text.empty()) text += ',';
    text += std::to_string(range.first);
    text += '-';
    text += std::to_string(range.last);
  }
  return text;
}

TEST(ByteRanges, AreReadAsTheStandardHasThem) {
  EXPECT_EQ(ranges_of(nullptr, 100), "whole");
  EXPECT_EQ(ranges_of("bytes=0-9", 100), "0-9");
  EXPECT_EQ(ranges_of("Bytes = 10-19 , 90-", 100), "10-19,90-99");
  EXPECT_EQ(ranges_of("bytes=-5", 100), "95-99");
  EXPECT_EQ(ranges_of("bytes=-500", 100), "0-99") << "a suffix longer than the file is the file";
  EXPECT_EQ(ranges_of("bytes=50-500", 100), "50-99");
  EXPECT_EQ(ranges_of("bytes=100-200,300-", 100), "none");
  EXPECT_EQ(ranges_of("bytes=-0", 100), "none");
  EXPECT_EQ(ranges_of("bytes=100-200,0-0", 100), "0-0") << "the unsatisfiable ones are left out";
  for (const char* malformed : {"bytes=9-1", "bytes=a-b", "bytes=1", "items=0-1", "bytes=--1", "bytes=1-2-3", "bytes="})
    EXPECT_EQ(ranges_of(malformed, 100), "whole") << malformed;
  std::string many = "bytes=0-0";
  for (int i = 1; i <= 300; ++i) {
    many += ',';
    many += std::to_string(i % 100);
    many += '-';
    many += std::to_string(i % 100);
  }
  EXPECT_EQ(ranges_of(many.c_str(), 100), "whole") << "too many ranges";
  EXPECT_EQ(ranges_of("bytes=0-99,0-99,0-99", 100), "whole") << "more than twice the file";
}

class ArchiveServed : public ::testing::Test {
 protected:
  void SetUp() override {
    archive = tree.root() / "runs";
    fs::create_directory(archive);
    std::string bytes = "root";
    for (int i = 0; i < 1000; ++i) bytes += char('a' + i % 26);
    content = bytes;
    std::ofstream(archive / "run5.root", std::ios::binary) << content;
    std::ofstream(archive / "run5.root.partial-1-AbCdEf") << "half a run";
    std::ofstream(archive / "notes.txt") << TestWebTree::kSecret;
    std::ofstream(tree.root() / "run9.root") << TestWebTree::kSecret;
    fs::create_symlink(tree.root() / "run9.root", archive / "run6.root");
    fs::create_directory(archive / "run7.root");
    fs::create_symlink("run5.root", archive / "run4.root");  // inside the archive, but a link
    ::mkfifo((archive / "run8.root").c_str(), 0600);  // no writer: opening it would wait for one
  }

  int start(const kivo::web::Access& access = {}) {
    display = std::make_unique<kivo::web::WebDisplay>("127.0.0.1", 0, tree.root().string());
    display->set_access(access);
    display->set_archive(archive.string());
    std::string error;
    EXPECT_TRUE(display->start(error)) << error;
    return port_of(display->address());
  }

  TestWebTree tree;
  fs::path archive;
  std::string content;
  std::unique_ptr<kivo::web::WebDisplay> display;
};

TEST_F(ArchiveServed, RunFilesComeWholeOrByRanges) {
  const int port = start();
  const HttpResponse whole = http_request(port, "GET", "/archive/run5.root?stamp=1");
  EXPECT_EQ(whole.status, 200);
  EXPECT_EQ(whole.body, content);
  EXPECT_EQ(whole.header("accept-ranges"), "bytes");

  const HttpResponse first = http_request(port, "GET", "/archive/run5.root", "Range: bytes=0-3\r\n");
  EXPECT_EQ(first.status, 206);
  EXPECT_EQ(first.body, "root");
  EXPECT_EQ(first.header("content-range"), "bytes 0-3/1004");

  const HttpResponse two = http_request(port, "GET", "/archive/run5.root", "Range: bytes=0-1, 1000-\r\n");
  EXPECT_EQ(two.status, 206);
  const std::string type = two.header("content-type");
  ASSERT_TRUE(type.starts_with("multipart/byteranges; boundary=")) << type;
  const std::string boundary = type.substr(type.find('=') + 1);
  EXPECT_EQ(two.body, "\r\n--" + boundary + "\r\nContent-Type: application/octet-stream\r\nContent-Range: bytes 0-1/1004" +
                          "\r\n\r\nro\r\n--" + boundary +
                          "\r\nContent-Type: application/octet-stream\r\nContent-Range: bytes 1000-1003/1004\r\n\r\n" +
                          content.substr(1000) + "\r\n--" + boundary + "--\r\n");
  EXPECT_EQ(std::stoul(two.header("content-length")), two.body.size());

  const HttpResponse beyond = http_request(port, "GET", "/archive/run5.root", "Range: bytes=2000-\r\n");
  EXPECT_EQ(beyond.status, 416);
  EXPECT_EQ(beyond.header("content-range"), "bytes */1004");

  const HttpResponse head = http_request(port, "HEAD", "/archive/run5.root", "Range: bytes=-4\r\n");
  EXPECT_EQ(head.status, 206);
  EXPECT_EQ(head.header("content-length"), "4");
  EXPECT_EQ(head.body, "");
}

TEST_F(ArchiveServed, NothingOutsideTheRunFilesOfTheArchive) {
  const int port = start();
  for (const char* path : {"/archive/../run9.root", "/archive/%2e%2e/run9.root", "/archive/run6.root",
                           "/archive/notes.txt", "/archive/run5.root.partial-1-AbCdEf", "/archive/run7.root",
                           "/archive/", "/archive//run5.root", "/archive/run5.root/x", "/runs/run5.root",
                           "/archive/run5.root%00.txt", "/archive/run5.root%00", "/archive/run5.root%0a",
                           "/archive/run5.root%2f", "/archive/run5.root%20", "/archive/run5.root;x",
                           "/archive/run5.root/", "/archive/run4.root", "/archive/run8.root",
                           "/archive/%2e%2e%2frun9.root"}) {
    const HttpResponse refused = http_request(port, "GET", path);
    EXPECT_EQ(refused.status, 404) << path;
    EXPECT_EQ(refused.body.find(TestWebTree::kSecret), std::string::npos) << path;
  }
  // The ROOT protocol's folders of archived runs open the same files only.
  for (const char* path : {"/Runs/run6.root/h.json", "/Runs/run4.root/h.json", "/Runs/run8.root/h.json",
                           "/Runs/run6.root/hnevnt/root.json", "/Runs/run7.root/h.json"}) {
    const HttpResponse refused = http_request(port, "GET", path);
    EXPECT_EQ(refused.status, 404) << path;
    EXPECT_EQ(refused.body.find(TestWebTree::kSecret), std::string::npos) << path;
  }
  // Percent-encoded letters decode to the name as RFC 3986 has it.
  for (const char* path : {"/archive/run5.roo%74", "/archive/run5%2Eroot"})
    EXPECT_EQ(http_request(port, "GET", path).body, content) << path;
  const HttpResponse runs = http_request(port, "GET", "/runs.json");
  EXPECT_EQ(runs.status, 200);
  EXPECT_NE(runs.body.find("\"archive\":true"), std::string::npos) << runs.body;
  EXPECT_NE(runs.body.find("\"file\":\"run5.root\""), std::string::npos);
  EXPECT_NE(runs.body.find("\"problem\":\"damaged ROOT file"), std::string::npos) << runs.body;
  EXPECT_EQ(runs.body.find("run6"), std::string::npos) << "a link is not listed";
  EXPECT_EQ(runs.body.find("run7"), std::string::npos) << "nor a directory";
}

TEST_F(ArchiveServed, WithoutAnArchiveThereIsNone) {
  kivo::web::WebDisplay plain("127.0.0.1", 0, tree.root().string());
  std::string error;
  ASSERT_TRUE(plain.start(error)) << error;
  const int port = port_of(plain.address());
  EXPECT_EQ(http_request(port, "GET", "/archive/run5.root").status, 404);
  EXPECT_EQ(http_request(port, "GET", "/runs.json").body, "{\"runs\":[],\"archive\":false}");
}

TEST_F(ArchiveServed, ThePasswordCoversTheArchive) {
  const fs::path passwords = tree.root() / "users.htdigest";
  std::ofstream(passwords) << "operator:kivo:0123456789abcdef0123456789abcdef\n";
  kivo::web::Access access;
  access.password_file = passwords.string();
  access.realm = "kivo";
  const int port = start(access);
  for (const char* path : {"/archive/run5.root", "/runs.json"}) {
    const HttpResponse refused = http_request(port, "GET", path, "Range: bytes=0-3\r\n");
    EXPECT_EQ(refused.status, 401) << path;
    EXPECT_EQ(refused.body.find("root"), std::string::npos) << path;
  }
}

}  // namespace

namespace {

// Bytes this process has read so far (read(2), pread(2) and the like).
long long bytes_read_so_far() {
  std::ifstream io("/proc/self/io");
  std::string field;
  long long value = 0;
  while (io >> field >> value)
    if (field == "rchar:") return value;
  return -1;
}

// Big-endian fields, as a ROOT file holds them.
void put(std::ofstream& out, std::uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.put(static_cast<char>(value >> (8 * i)));
}

// Files of 2 GB that take no disk (sparse), named like runs: zeros, and a
// ROOT header whose keys list claims 256 MB at the end of the file. The
// listing reads of them what it reads of a run file, and a named pipe
// without a writer is left out without waiting for one.
TEST(ArchiveListingCost, AHugeOrSparseFileCostsNoMoreThanARunFile) {
  TestWebTree tree;
  const fs::path archive = tree.root() / "runs";
  fs::create_directory(archive);
  constexpr std::uint64_t kSize = std::uint64_t{2} << 30;
  std::ofstream(archive / "run1.root");
  fs::resize_file(archive / "run1.root", kSize);
  {
    std::ofstream crafted(archive / "run2.root", std::ios::binary);
    crafted << "root";
    put(crafted, 62400, 4);  // version: small fields
    put(crafted, 100, 4);    // fBEGIN
    crafted << std::string(16, '\0');
    put(crafted, 1 << 20, 4);  // fNbytesName: the top directory's record reaches 1 MB further
    crafted.seekp(100 + (1 << 20));
    put(crafted, 5, 2);  // the directory: small fields, its keys list near the end
    crafted << std::string(24, '\0');
    const std::uint64_t keys = kSize - (std::uint64_t{256} << 20) - 16;
    put(crafted, keys, 4);
    crafted.seekp(static_cast<std::streamoff>(keys));
    put(crafted, std::uint64_t{256} << 20, 4);
  }
  fs::resize_file(archive / "run2.root", kSize);
  ASSERT_EQ(::mkfifo((archive / "run3.root").c_str(), 0600), 0);
  const long long before = bytes_read_so_far();
  std::vector<kivo::web::ArchivedRun> runs;
  std::string error;
  ASSERT_TRUE(kivo::web::list_archive(archive.string(), runs, error)) << error;
  const long long read = bytes_read_so_far() - before;
  ASSERT_EQ(runs.size(), 2u) << "the pipe is no run file";
  EXPECT_EQ(runs[0].problem, "not a ROOT file");
  EXPECT_NE(runs[1].problem.find("its list of keys claims 268435456 bytes"), std::string::npos) << runs[1].problem;
  EXPECT_LT(read, 4 << 20) << "bytes read for two files of 2 GB";
}

}  // namespace
