#include "RunMetadata.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "ArchiveListing.h"
#include "CommandLine.h"
#include "TDirectory.h"
#include "TH2F.h"
#include "TNamed.h"

namespace kivo::host {

namespace {

// The mask files mask_pixels() writes, by the names the readout reads.
constexpr const char* kMaskFiles[] = {"masklist_testbench1.txt", "masklist_testbench2.txt"};
constexpr const char* kVerdictsName = "quality_verdicts";
constexpr const char* kChecksName = "quality_checks";
constexpr int kStaveRows = 5;  // the whole detector, then staves 0 to 3
constexpr std::uintmax_t kMaxMaskText = 8u << 20;

std::unique_ptr<TObject> fact(const char* name, const std::string& value) {
  return std::make_unique<TNamed>(name, value.c_str());
}

std::string joined_lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
  return text;
}

// The text of a mask file, empty when there is no regular file. A list longer
// than kMaxMaskText (a detector masked nearly whole) is cut after its last
// whole line with a note, so that a run's copy and file stay bounded.
std::string mask_text(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return {};
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) return {};
  std::ifstream in(path, std::ios::binary);
  std::string text(static_cast<std::size_t>(std::min(size, kMaxMaskText)), '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (size <= text.size()) return text;
  const std::size_t last_line = text.rfind('\n');
  text.resize(last_line == std::string::npos ? 0 : last_line + 1);
  return text + "# cut here: " + std::to_string(size - text.size()) + " more bytes of " + std::to_string(size) +
         " are in " + path.string() + "\n";
}

// The checks in the order of their first result.
std::vector<std::string> check_names(const std::vector<quality::TrackedResult>& results) {
  std::vector<std::string> names;
  for (const quality::TrackedResult& tracked : results)
    if (std::find(names.begin(), names.end(), tracked.result.check) == names.end())
      names.push_back(tracked.result.check);
  return names;
}

// Check by stave: the most severe verdict of each check on each stave (over
// its chips), the whole detector's below stave 0.
std::unique_ptr<TObject> verdict_map(const std::vector<quality::TrackedResult>& results) {
  const std::vector<std::string> checks = check_names(results);
  auto map = std::make_unique<TH2F>(kVerdictsName, "Final verdicts: 0 Null or none, 1 Good, 2 Medium, 3 Bad;check;",
                                    int(checks.size()), 0, double(checks.size()), kStaveRows, -1.5, 3.5);
  for (std::size_t c = 0; c < checks.size(); ++c) map->GetXaxis()->SetBinLabel(int(c) + 1, checks[c].c_str());
  map->GetYaxis()->SetBinLabel(1, "detector");
  for (int s = 0; s < kStaveRows - 1; ++s) map->GetYaxis()->SetBinLabel(s + 2, ("stave " + std::to_string(s)).c_str());
  std::vector<std::vector<int>> codes(checks.size(), std::vector<int>(kStaveRows, -1));
  for (const quality::TrackedResult& tracked : results) {
    const auto check = std::find(checks.begin(), checks.end(), tracked.result.check) - checks.begin();
    const int row = tracked.result.stave == quality::kNone ? 0 : tracked.result.stave + 1;
    if (row < 0 || row >= kStaveRows) continue;
    int& code = codes[std::size_t(check)][std::size_t(row)];
    code = std::max(code, static_cast<int>(tracked.result.verdict));
  }
  double entries = 0;
  for (std::size_t c = 0; c < checks.size(); ++c)
    for (int row = 0; row < kStaveRows; ++row) {
      if (codes[c][std::size_t(row)] < 0) continue;
      map->SetBinContent(int(c) + 1, row + 1, codes[c][std::size_t(row)]);
      entries += 1;
    }
  map->SetEntries(entries);
  return map;
}

}  // namespace

std::string utc_time(std::chrono::system_clock::time_point time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string run_file_title(const RunFacts& facts) { return "KIVO run " + std::to_string(facts.run); }

std::vector<std::unique_ptr<TObject>> run_metadata(const RunFacts& facts, const quality::Quality& quality,
                                                   const std::string& mask_directory) {
  const TDirectory::TContext unregistered(nullptr);
  std::vector<std::unique_ptr<TObject>> objects;
  objects.push_back(fact(web::kRunNumberName, std::to_string(facts.run)));
  objects.push_back(fact(web::kRunFirstEventName, utc_time(facts.first_event)));
  objects.push_back(fact(web::kRunLastEventName, utc_time(facts.last_event)));
  objects.push_back(fact(web::kRunDataEventsName, std::to_string(facts.data_events)));
  objects.push_back(fact(web::kRunBeginSeenName, facts.begin_seen ? "yes" : "no"));
  objects.push_back(fact(web::kRunEndSeenName, facts.end_seen ? "yes" : "no"));
  objects.push_back(fact(web::kRunStreamsName, joined_lines(facts.streams)));
  objects.push_back(fact(web::kKivoVersionName, eventio::kivo_version()));
  if (!facts.stand.empty()) objects.push_back(fact(web::kRunStandName, facts.stand));
  objects.push_back(fact(kChecksName, "# data-quality checks in force, from " + quality.config().origin + "\n" +
                                          quality.config().text));
  for (const char* mask : kMaskFiles) {
    const std::filesystem::path path = std::filesystem::path(mask_directory) / mask;
    const std::string name = std::filesystem::path(mask).stem().string();
    objects.push_back(fact(name.c_str(), mask_text(path)));
  }
  if (!quality.results().empty()) objects.push_back(verdict_map(quality.results()));
  return objects;
}

}  // namespace kivo::host
