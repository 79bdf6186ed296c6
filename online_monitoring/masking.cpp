// Pixel masking: lists the pixels of the stave hit maps whose hit count since
// the last reset exceeds a threshold, and writes them into the two mask files
// of the readout.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include <unistd.h>

#include "TAxis.h"
#include "TH2F.h"
#include "hit_maps.h"
#include "kivo.h"
#include "monitor_state.h"

const char* const file_name_tb1 = KIVO_MASK_DIR "/masklist_testbench1.txt";
const char* const file_name_tb2 = KIVO_MASK_DIR "/masklist_testbench2.txt";

namespace {

// Readout connector of each stave; stave 1 is read out by test bench 2.
const int stave_map[NSTAVE] = {0, 4, 1, 2};
constexpr int kTestbench2Stave = 1;

const char* const kMaskHeader = "#Connector, ChipID, Col, Row";

int list_stave(int s, float thresh) {
  TH2F* map = h2d_chip[s];
  const int stride = map->GetNbinsX() + 2;
  std::cout << std::endl << "-- stave " << s << std::endl;
  const std::vector<int> hot = cells_above_by_column(*map, raw_summary(s), thresh);
  for (int cell : hot) {
    const int row = map->GetYaxis()->GetBinCenter(cell / stride);
    const int col = map->GetXaxis()->GetBinCenter(cell % stride);
    std::cout << " row:" << row << " col:" << col << std::endl;
  }
  std::cout << "Total: " << hot.size() << std::endl;
  return static_cast<int>(hot.size());
}

// Mask file being written: a temporary beside the file it replaces, renamed
// over it once complete, so a reader never sees a partial file.
struct MaskFile {
  std::string path;
  std::string temporary;
  FILE* out;
  bool created;
};

void report_write_failure(const std::string& path, int error) {
  std::cout << "mask_pixels: cannot write " << path << ": " << std::strerror(error)
            << std::endl;
}

// The file a mask path stands for: when the path is a symbolic link, the
// file it leads to, so that the new mask replaces that file and the link the
// readout follows keeps leading to it; otherwise the path itself.
std::string file_behind(const char* path) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (!fs::is_symlink(path, error)) return path;
  const fs::path target = fs::canonical(path, error);
  if (!error) return target.string();
  const fs::path dangling = fs::read_symlink(path, error);  // to a file not yet there
  if (error) return path;
  return (dangling.is_absolute() ? dangling : fs::path(path).parent_path() / dangling).string();
}

bool open_mask_file(const char* path, MaskFile& file) {
  file.path = file_behind(path);
  file.temporary = file.path + ".tmp";
  file.out = std::fopen(file.temporary.c_str(), "w");
  if (!file.out) {
    report_write_failure(file.temporary, errno);
    return false;
  }
  file.created = true;
  std::fprintf(file.out, "%s\n", kMaskHeader);
  return true;
}

// Closes the temporary; false (reported) when any write to it failed.
bool close_mask_file(MaskFile& file) {
  errno = 0;
  const bool written = !std::ferror(file.out);
  const bool closed = std::fclose(file.out) == 0;
  file.out = nullptr;
  if (written && closed) return true;
  report_write_failure(file.temporary, errno ? errno : EIO);
  return false;
}

// Removes the temporary, if this call created it.
void discard_mask_file(MaskFile& file) {
  if (file.out) std::fclose(file.out);
  file.out = nullptr;
  if (file.created) std::remove(file.temporary.c_str());
  file.created = false;
}

bool install_mask_file(MaskFile& file) {
  if (std::rename(file.temporary.c_str(), file.path.c_str()) == 0) {
    file.created = false;
    return true;
  }
  report_write_failure(file.path, errno);
  return false;
}

// Puts both temporaries in place. Until the testbench-2 file is in place the
// previous testbench-1 file stays reachable under a second name, so that a
// failure there puts it back (or removes the new one when there was none).
bool install_mask_files(MaskFile& tb1, MaskFile& tb2) {
  const std::string previous = tb1.path + ".previous";
  std::remove(previous.c_str());
  const bool had_previous = link(tb1.path.c_str(), previous.c_str()) == 0;
  if (!had_previous && errno != ENOENT) {
    report_write_failure(tb1.path, errno);
    return false;
  }
  if (!install_mask_file(tb1)) {
    if (had_previous) std::remove(previous.c_str());
    return false;
  }
  if (!install_mask_file(tb2)) {
    if (had_previous)
      std::rename(previous.c_str(), tb1.path.c_str());
    else
      std::remove(tb1.path.c_str());
    return false;
  }
  if (had_previous) std::remove(previous.c_str());
  return true;
}

// Writes the hot pixels of stave s in readout coordinates and prints the count
// of every chip after its last column; returns the stave's count.
int mask_stave(int s, float thresh, FILE* out) {
  TH2F* map = h2d_chip[s];
  TAxis* xaxis = map->GetXaxis();
  TAxis* yaxis = map->GetYaxis();
  const int nx = map->GetNbinsX();
  const int stride = nx + 2;
  const std::vector<int> hot = cells_above_by_column(*map, raw_summary(s), thresh);
  std::size_t next = 0;
  int tot = 0, prev_tot = 0;
  for (int ix = 1; ix <= nx; ix++) {
    const int c = xaxis->GetBinCenter(ix);
    const int chipid = c / 1024;
    const int col = c % 1024;
    for (; next < hot.size() && hot[next] % stride == ix; next++) {
      const int row = 511.0 - yaxis->GetBinCenter(hot[next] / stride);
      std::fprintf(out, "%d,%d,%d,%d\n", stave_map[s], chipid, col, row);
      tot++;
    }
    if (col == 1023) {
      std::printf("Total pixels masked on stave %i, chip %i: %i\n", s, chipid, tot - prev_tot);
      std::fflush(stdout);
      prev_tot = tot;
    }
  }
  return tot;
}

}  // namespace

int process_histos(float thresh) {
  if (!histos_booked("process_histos")) return -1;
  int sum = 0;
  for (int s = 0; s < NSTAVE; s++) sum += list_stave(s, thresh);
  return sum;
}

int mask_pixels(float thresh) {
  if (!histos_booked("mask_pixels")) return -1;
  MaskFile tb1{}, tb2{};
  if (!open_mask_file(file_name_tb1, tb1) || !open_mask_file(file_name_tb2, tb2)) {
    discard_mask_file(tb1);
    discard_mask_file(tb2);
    return -1;
  }
  int sum = 0;
  for (int s = 0; s < NSTAVE; s++)
    sum += mask_stave(s, thresh, s == kTestbench2Stave ? tb2.out : tb1.out);
  std::printf("Total pixels masked: %i\n", sum);
  std::fflush(stdout);
  const bool tb1_closed = close_mask_file(tb1);
  const bool tb2_closed = close_mask_file(tb2);
  if (!tb1_closed || !tb2_closed || !install_mask_files(tb1, tb2)) {
    discard_mask_file(tb1);
    discard_mask_file(tb2);
    return -1;
  }
  std::puts("New pixel mask has been created");
  std::fflush(stdout);
  return sum;
}
