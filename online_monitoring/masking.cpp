// Pixel masking: lists the pixels of the stave hit maps whose hit count since
// the last reset exceeds a threshold, and writes them into the two mask files
// of the readout.
#include <charconv>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "OutputFile.h"
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

// `error` is "<file>: <reason>".
void report_write_failure(const std::string& error) {
  std::cout << "mask_pixels: cannot write " << error << std::endl;
}

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

// One mask file being written: its lines go to a temporary beside the file
// it replaces, in pieces, and the first write that fails is remembered.
class MaskFile {
 public:
  // False (reported) when the temporary cannot be created.
  bool open(const char* path) {
    if (!file_.open(path, error_, kivo::eventio::OutputFile::SpecialFiles::refuse)) return report_failure();
    pending_ = kMaskHeader;
    pending_ += '\n';
    return true;
  }

  void line(int connector, int chip, int col, int row) {
    for (int value : {connector, chip, col}) {
      append(value);
      pending_ += ',';
    }
    append(row);
    pending_ += '\n';
    if (pending_.size() >= kPieceBytes) write_pending();
  }

  // Writes what is left; false (reported) when any write failed.
  bool finish() {
    write_pending();
    return error_.empty() || report_failure();
  }

  kivo::eventio::OutputFile& output() { return file_; }

 private:
  static constexpr std::size_t kPieceBytes = std::size_t{1} << 16;

  void append(int value) {
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    pending_.append(digits, end);
  }

  void write_pending() {
    if (error_.empty()) file_.write(pending_, error_);
    pending_.clear();
  }

  bool report_failure() const {
    report_write_failure(error_);
    return false;
  }

  kivo::eventio::OutputFile file_;
  std::string pending_;
  std::string error_;
};

// Writes the hot pixels of stave s in readout coordinates and prints the count
// of every chip after its last column; returns the stave's count.
int mask_stave(int s, float thresh, MaskFile& out) {
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
      out.line(stave_map[s], chipid, col, row);
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
  MaskFile tb1, tb2;
  if (!tb1.open(file_name_tb1) || !tb2.open(file_name_tb2)) return -1;
  int sum = 0;
  for (int s = 0; s < NSTAVE; s++) sum += mask_stave(s, thresh, s == kTestbench2Stave ? tb2 : tb1);
  std::printf("Total pixels masked: %i\n", sum);
  std::fflush(stdout);
  const bool tb1_written = tb1.finish();
  const bool tb2_written = tb2.finish();
  if (!tb1_written || !tb2_written) return -1;
  std::string error;
  if (!kivo::eventio::commit_together({&tb1.output(), &tb2.output()}, error)) {
    report_write_failure(error);
    return -1;
  }
  std::puts("New pixel mask has been created");
  std::fflush(stdout);
  return sum;
}
