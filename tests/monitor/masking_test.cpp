// Hot-pixel listing and mask files: thresholds, coordinates, file layout and
// order, rewriting, and failure to write leaving the old files intact.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <future>
#include <sstream>
#include <string>
#include <vector>

#include "TH2F.h"
#include "kivo.h"
#include "monitor_state.h"
#include "monitor_test_support.h"

namespace {

using monitor_test::capture_stdout;
using monitor_test::hit_line;
using monitor_test::process_text;
using monitor_test::read_file;

const std::string kHeader = "#Connector, ChipID, Col, Row\n";

class Masking : public ::testing::Test {
 protected:
  void SetUp() override { monitor_test::reset_monitor(); }
  void TearDown() override { monitor_test::reset_monitor(); }
};

// `times` events with one hit each at stave-wide column `col`, chip row `row`.
void hit_pixel(int stave, int col, int row, int times) {
  std::string text;
  for (int i = 0; i < times; i++) text += "event\n" + hit_line(stave, col, row);
  process_text(text);
}

std::string empty_listing(int stave) {
  return "\n-- stave " + std::to_string(stave) + "\nTotal: 0\n";
}

// The per-chip lines and total of mask_pixels, with the counts given as
// {stave, chip, count} (all other chips 0).
std::string mask_summary(std::initializer_list<std::array<int, 3>> counts, int total) {
  std::ostringstream text;
  for (int s = 0; s < NSTAVE; s++) {
    for (int chip = 0; chip < 9; chip++) {
      int count = 0;
      for (const auto& c : counts)
        if (c[0] == s && c[1] == chip) count = c[2];
      text << "Total pixels masked on stave " << s << ", chip " << chip << ": " << count << "\n";
    }
  }
  text << "Total pixels masked: " << total << "\n";
  return text.str();
}

TEST_F(Masking, PixelIsHotOnlyAboveTheThreshold) {
  hit_pixel(0, 40, 7, 10);
  EXPECT_EQ(capture_stdout([] { EXPECT_EQ(process_histos(10), 0); }),
            empty_listing(0) + empty_listing(1) + empty_listing(2) + empty_listing(3));
  hit_pixel(0, 40, 7, 1);
  EXPECT_EQ(capture_stdout([] { EXPECT_EQ(process_histos(10), 1); }),
            "\n-- stave 0\n row:504 col:40\nTotal: 1\n" + empty_listing(1) + empty_listing(2) +
                empty_listing(3));
}

TEST_F(Masking, FractionalZeroAndNegativeThresholds) {
  hit_pixel(3, 9000, 0, 2);
  hit_pixel(3, 9001, 0, 3);
  std::string printed;
  printed = capture_stdout([] { EXPECT_EQ(process_histos(2.5), 1); });
  EXPECT_NE(printed.find(" row:511 col:9001\n"), std::string::npos);
  printed = capture_stdout([] { EXPECT_EQ(process_histos(0), 2); });
  EXPECT_NE(printed.find(" row:511 col:9000\n row:511 col:9001\nTotal: 2\n"), std::string::npos);
}

TEST_F(Masking, ListingOrderIsColumnThenDisplayedRow) {
  hit_pixel(1, 600, 10, 1);
  hit_pixel(1, 500, 10, 1);
  hit_pixel(1, 500, 300, 1);
  const std::string printed = capture_stdout([] { EXPECT_EQ(process_histos(0), 3); });
  EXPECT_EQ(printed, empty_listing(0) +
                         "\n-- stave 1\n row:211 col:500\n row:501 col:500\n row:501 col:600\n"
                         "Total: 3\n" +
                         empty_listing(2) + empty_listing(3));
}

TEST_F(Masking, HotPixelOnStaveTwoChipThree) {
  hit_pixel(2, 3 * 1024 + 17, 200, 11);
  EXPECT_EQ(capture_stdout([] { EXPECT_EQ(process_histos(), 1); }),
            empty_listing(0) + empty_listing(1) + "\n-- stave 2\n row:311 col:3089\nTotal: 1\n" +
                empty_listing(3));
  EXPECT_EQ(capture_stdout([] { EXPECT_EQ(mask_pixels(), 1); }),
            mask_summary({{2, 3, 1}}, 1) + "New pixel mask has been created\n");
  EXPECT_EQ(read_file(file_name_tb1), kHeader + "1,3,17,200\n");
  EXPECT_EQ(read_file(file_name_tb2), kHeader);
}

TEST_F(Masking, HotPixelOnStaveOneChipZeroGoesToTestbenchTwo) {
  hit_pixel(1, 0, 0, 6);
  EXPECT_EQ(capture_stdout([] { EXPECT_EQ(mask_pixels(), 1); }),
            mask_summary({{1, 0, 1}}, 1) + "New pixel mask has been created\n");
  EXPECT_EQ(read_file(file_name_tb1), kHeader);
  EXPECT_EQ(read_file(file_name_tb2), kHeader + "4,0,0,0\n");
}

TEST_F(Masking, MaskDefaultThresholdIsFive) {
  hit_pixel(0, 5, 5, 5);
  capture_stdout([] { EXPECT_EQ(mask_pixels(), 0); });
  EXPECT_EQ(read_file(file_name_tb1), kHeader);
}

TEST_F(Masking, EmptyMapsGiveHeadersAndZeroCounts) {
  EXPECT_EQ(capture_stdout([] { EXPECT_EQ(mask_pixels(5), 0); }),
            mask_summary({}, 0) + "New pixel mask has been created\n");
  EXPECT_EQ(read_file(file_name_tb1), kHeader);
  EXPECT_EQ(read_file(file_name_tb2), kHeader);
}

TEST_F(Masking, FileOrderIsStaveThenColumnThenDisplayedRow) {
  hit_pixel(3, 2, 100, 1);
  hit_pixel(0, 8 * 1024 + 1, 5, 1);
  hit_pixel(2, 1024, 511, 1);
  hit_pixel(0, 3, 100, 1);
  hit_pixel(0, 3, 200, 1);
  hit_pixel(1, 7000, 9, 1);
  const std::string printed = capture_stdout([] { EXPECT_EQ(mask_pixels(0), 6); });
  EXPECT_EQ(read_file(file_name_tb1),
            kHeader + "0,0,3,200\n0,0,3,100\n0,8,1,5\n1,1,0,511\n2,0,2,100\n");
  EXPECT_EQ(read_file(file_name_tb2), kHeader + "4,6,856,9\n");
  EXPECT_EQ(printed, mask_summary({{0, 0, 2}, {0, 8, 1}, {1, 6, 1}, {2, 1, 1}, {3, 0, 1}}, 6) +
                         "New pixel mask has been created\n");
}

TEST_F(Masking, RewritingGivesTheSameFiles) {
  hit_pixel(2, 4000, 77, 3);
  capture_stdout([] { mask_pixels(1); });
  const std::string first = read_file(file_name_tb1);
  capture_stdout([] { mask_pixels(1); });
  EXPECT_EQ(read_file(file_name_tb1), first);
  EXPECT_EQ(first, kHeader + "1,3,928,77\n");
}

TEST_F(Masking, OverflowBinsAreNeverListed) {
  // Row 600, then columns beyond the stave and beyond chip 0 of stave 0.
  process_text("event\nhit 1 1 600 5\nhit 1 1 5 10000\nhit 1 1 5 1500\n");
  EXPECT_EQ(capture_stdout([] { EXPECT_EQ(process_histos(0), 0); }),
            empty_listing(0) + empty_listing(1) + empty_listing(2) + empty_listing(3));
}

TEST_F(Masking, NegativeThresholdMasksEveryPixel) {
  capture_stdout([] { EXPECT_EQ(mask_pixels(-0.5), 4 * 9216 * 512); });
  const std::string tb1 = read_file(file_name_tb1);
  const std::string tb2 = read_file(file_name_tb2);
  EXPECT_EQ(std::count(tb1.begin(), tb1.end(), '\n'), 1 + 3 * 9216 * 512);
  EXPECT_EQ(std::count(tb2.begin(), tb2.end(), '\n'), 1 + 9216 * 512);
  const std::string start = kHeader + "4,0,0,511\n4,0,0,510\n4,0,0,509\n";
  EXPECT_EQ(tb2.substr(0, start.size()), start);
}

// Mask files that are symbolic links, one to an existing file and one to a
// file not yet there: the files behind them get the masks, the links stay.
TEST_F(Masking, LinkedMaskFilesUpdateTheFilesBehindTheLinks) {
  namespace fs = std::filesystem;
  const fs::path elsewhere = fs::temp_directory_path() / ("kivo-mask-links-" + std::to_string(getpid()));
  fs::create_directories(elsewhere);
  {
    std::FILE* old = std::fopen((elsewhere / "tb1.txt").c_str(), "w");
    ASSERT_NE(old, nullptr);
    std::fputs("old\n", old);
    std::fclose(old);
  }
  fs::remove(file_name_tb1);
  fs::remove(file_name_tb2);
  fs::create_symlink(elsewhere / "tb1.txt", file_name_tb1);
  fs::create_symlink(elsewhere / "tb2.txt", file_name_tb2);
  hit_pixel(2, 3 * 1024 + 17, 200, 6);
  capture_stdout([] { EXPECT_EQ(mask_pixels(5), 1); });
  EXPECT_TRUE(fs::is_symlink(file_name_tb1));
  EXPECT_TRUE(fs::is_symlink(file_name_tb2));
  EXPECT_EQ(read_file((elsewhere / "tb1.txt").string()), kHeader + "1,3,17,200\n");
  EXPECT_EQ(read_file((elsewhere / "tb2.txt").string()), kHeader);
  fs::remove(file_name_tb1);
  fs::remove(file_name_tb2);
  fs::remove_all(elsewhere);
}

// A named pipe in the place of a mask file would hold kivo until something
// read it: it is refused, and neither file changes.
TEST_F(Masking, ANamedPipeAsMaskFileIsRefusedWithoutWaiting) {
  namespace fs = std::filesystem;
  capture_stdout([] { mask_pixels(5); });
  const std::string tb1 = read_file(file_name_tb1);
  fs::remove(file_name_tb2);
  ASSERT_EQ(mkfifo(file_name_tb2, 0600), 0);
  hit_pixel(2, 3 * 1024 + 17, 200, 6);
  std::string printed;
  auto masking = std::async(std::launch::async, [&] { printed = capture_stdout([] { EXPECT_EQ(mask_pixels(5), -1); }); });
  if (masking.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    const int reader = open(file_name_tb2, O_RDONLY | O_NONBLOCK);  // lets a blocked writer go on
    masking.wait();
    close(reader);
    ADD_FAILURE() << "mask_pixels waited for a reader of the named pipe";
  }
  EXPECT_EQ(printed, std::string("mask_pixels: cannot write ") + file_name_tb2 +
                         ": is a named pipe; only a regular file is written\n");
  EXPECT_EQ(read_file(file_name_tb1), tb1);
  EXPECT_EQ(fs::status(file_name_tb2).type(), fs::file_type::fifo);
  fs::remove(file_name_tb2);
}

// A mask file that is a symbolic link into a directory that does not exist
// cannot be written, also by root: its temporary goes beside the file behind
// the link.
class UnreachableMaskFile {
 public:
  explicit UnreachableMaskFile(const std::string& mask_file) : link_(mask_file), saved_(read_file(mask_file)) {
    namespace fs = std::filesystem;
    target_ = (fs::temp_directory_path() / ("kivo-no-such-dir-" + std::to_string(getpid())) / "mask.txt").string();
    fs::remove(link_);
    fs::create_symlink(target_, link_);
  }
  ~UnreachableMaskFile() {
    std::filesystem::remove(link_);
    std::FILE* file = std::fopen(link_.c_str(), "w");
    std::fputs(saved_.c_str(), file);
    std::fclose(file);
  }
  const std::string& target() const { return target_; }

 private:
  std::string link_, saved_, target_;
};

// Every entry of the mask directory: after any mask_pixels, only the two mask
// files, never a temporary or a second copy kept while both are put in place.
std::vector<std::string> mask_directory_entries() {
  std::vector<std::string> names;
  const std::filesystem::path dir = std::filesystem::path(file_name_tb1).parent_path();
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().string());
  std::sort(names.begin(), names.end());
  return names;
}

const std::vector<std::string> kOnlyTheMaskFiles = {file_name_tb1, file_name_tb2};

TEST_F(Masking, UnwritableFileLeavesBothOldFilesIntact) {
  hit_pixel(0, 1, 1, 1);
  hit_pixel(1, 1, 1, 1);
  capture_stdout([] { ASSERT_EQ(mask_pixels(0), 2); });
  const std::string old_tb1 = read_file(file_name_tb1);
  const std::string old_tb2 = read_file(file_name_tb2);
  hit_pixel(0, 2, 2, 1);
  for (const char* blocked : {file_name_tb1, file_name_tb2}) {
    UnreachableMaskFile block(blocked);
    const std::string printed = capture_stdout([] { EXPECT_EQ(mask_pixels(0), -1); });
    EXPECT_NE(printed.find("mask_pixels: cannot write " + block.target() + ": No such file or directory\n"),
              std::string::npos)
        << printed;
    EXPECT_EQ(printed.find("New pixel mask has been created"), std::string::npos);
    EXPECT_EQ(read_file(blocked == file_name_tb1 ? file_name_tb2 : file_name_tb1),
              blocked == file_name_tb1 ? old_tb2 : old_tb1);
    EXPECT_EQ(mask_directory_entries(), kOnlyTheMaskFiles);
  }
  capture_stdout([] { EXPECT_EQ(mask_pixels(0), 3); });
  EXPECT_EQ(read_file(file_name_tb1), kHeader + "0,0,1,1\n0,0,2,2\n");
}

// Writes that fail part-way, in either file: a file-size limit stops the
// larger one, and both old files stay.
TEST_F(Masking, WriteFailureInEitherFileLeavesOnlyTheOldMaskFiles) {
  capture_stdout([] { ASSERT_EQ(mask_pixels(5), 0); });
  const std::string old_tb1 = read_file(file_name_tb1);
  const std::string old_tb2 = read_file(file_name_tb2);
  for (const int stave : {0, 1}) {
    monitor_test::reset_monitor();
    for (int col = 0; col < 600; col++) hit_pixel(stave, col, 3, 1);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const std::string printed = capture_stdout([] { EXPECT_EQ(mask_pixels(0), -1); });
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous_handler);
    const char* failing = stave == 1 ? file_name_tb2 : file_name_tb1;  // stave 1 goes to test bench 2
    EXPECT_NE(printed.find("mask_pixels: cannot write " + std::string(failing) + ": File too large\n"),
              std::string::npos)
        << printed;
    EXPECT_EQ(read_file(file_name_tb1), old_tb1);
    EXPECT_EQ(read_file(file_name_tb2), old_tb2);
    EXPECT_EQ(mask_directory_entries(), kOnlyTheMaskFiles);
  }
}

// A directory in place of the testbench-1 file: it cannot be replaced, and
// the testbench-2 file is not touched.
TEST_F(Masking, FailureToPlaceTheFirstFileLeavesTheSecondAsItWas) {
  hit_pixel(1, 1, 1, 1);
  capture_stdout([] { ASSERT_EQ(mask_pixels(5), 0); });
  const std::string old_tb2 = read_file(file_name_tb2);
  std::filesystem::remove(file_name_tb1);
  std::filesystem::create_directory(file_name_tb1);
  const std::string printed = capture_stdout([] { EXPECT_EQ(mask_pixels(0), -1); });
  EXPECT_NE(printed.find("mask_pixels: cannot write " + std::string(file_name_tb1) + ": Is a directory\n"),
            std::string::npos)
      << printed;
  EXPECT_EQ(read_file(file_name_tb2), old_tb2);
  EXPECT_EQ(mask_directory_entries(), kOnlyTheMaskFiles);
  std::filesystem::remove(file_name_tb1);
}

// A temporary left by a writer that was killed (its process is gone) is
// removed by the next mask_pixels; one of a writer still running stays.
TEST_F(Masking, TemporariesOfEndedWritersAreRemoved) {
  capture_stdout([] { ASSERT_EQ(mask_pixels(5), 0); });
  const pid_t ended = fork();
  if (ended == 0) _exit(0);
  ASSERT_GT(ended, 0);
  waitpid(ended, nullptr, 0);
  const std::string stale = std::string(file_name_tb1) + ".partial-" + std::to_string(ended) + "-AbC123";
  const std::string running = std::string(file_name_tb2) + ".partial-" + std::to_string(getppid()) + "-AbC123";
  for (const std::string& path : {stale, running}) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr) << path;
    std::fclose(file);
  }
  capture_stdout([] { EXPECT_EQ(mask_pixels(5), 0); });
  EXPECT_FALSE(std::filesystem::exists(stale));
  EXPECT_TRUE(std::filesystem::exists(running));
  std::filesystem::remove(running);
  EXPECT_EQ(mask_directory_entries(), kOnlyTheMaskFiles);
}

// A directory in place of the testbench-2 file: its temporary is written but
// cannot be renamed over it, after the testbench-1 file could already be.
TEST_F(Masking, FailureToPlaceTheSecondFileKeepsTheFirstAsItWas) {
  hit_pixel(0, 1, 1, 1);
  for (const bool tb1_existed : {true, false}) {
    std::filesystem::remove(file_name_tb1);
    std::filesystem::remove(file_name_tb2);
    if (tb1_existed) capture_stdout([] { ASSERT_EQ(mask_pixels(5), 0); });
    const std::string old_tb1 = read_file(file_name_tb1);
    std::filesystem::remove(file_name_tb2);
    std::filesystem::create_directory(file_name_tb2);
    const std::string printed = capture_stdout([] { EXPECT_EQ(mask_pixels(0), -1); });
    EXPECT_NE(printed.find("mask_pixels: cannot write " + std::string(file_name_tb2) +
                           ": Is a directory\n"),
              std::string::npos)
        << printed;
    EXPECT_EQ(printed.find("New pixel mask has been created"), std::string::npos);
    EXPECT_EQ(std::filesystem::exists(file_name_tb1), tb1_existed);
    EXPECT_EQ(read_file(file_name_tb1), old_tb1);
    EXPECT_TRUE(std::filesystem::is_directory(file_name_tb2));
    const std::filesystem::path dir = std::filesystem::path(file_name_tb1).parent_path();
    for (const auto& entry : std::filesystem::directory_iterator(dir))
      EXPECT_TRUE(entry.path() == file_name_tb1 || entry.path() == file_name_tb2)
          << "left behind: " << entry.path();
    std::filesystem::remove(file_name_tb2);
  }
  capture_stdout([] { EXPECT_EQ(mask_pixels(0), 1); });
  EXPECT_EQ(read_file(file_name_tb1), kHeader + "0,0,1,1\n");
}

// A file-size limit makes the writes of a large mask fail part-way; the
// message gives the reason the system gave for the failing write.
TEST_F(Masking, WriteFailureReportsTheSystemsReason) {
  capture_stdout([] { ASSERT_EQ(mask_pixels(5), 0); });
  const std::string old_tb1 = read_file(file_name_tb1);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previous_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limited = saved;
  limited.rlim_cur = 1 << 20;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  const std::string printed = capture_stdout([] { EXPECT_EQ(mask_pixels(-1), -1); });
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous_handler);
  EXPECT_NE(printed.find("mask_pixels: cannot write " + std::string(file_name_tb1) +
                         ": File too large\n"),
            std::string::npos)
      << printed;
  EXPECT_EQ(printed.find("New pixel mask has been created"), std::string::npos);
  EXPECT_EQ(read_file(file_name_tb1), old_tb1);
  EXPECT_FALSE(std::filesystem::exists(std::string(file_name_tb1) + ".tmp"));
  EXPECT_FALSE(std::filesystem::exists(std::string(file_name_tb2) + ".tmp"));
  EXPECT_EQ(mask_directory_entries(), kOnlyTheMaskFiles);
}

TEST_F(Masking, ScansLeaveTheHitMapsUnchanged) {
  hit_pixel(2, 10, 10, 4);
  const double entries = h2d_chip[2]->GetEntries();
  capture_stdout([] {
    process_histos(1);
    mask_pixels(1);
  });
  EXPECT_EQ(h2d_chip[2]->GetEntries(), entries);
  EXPECT_EQ(h2d_chip[2]->GetBinContent(11, 502), 4);
}

}  // namespace
