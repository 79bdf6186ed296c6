#include "ArchiveList.h"

#include <algorithm>
#include <cstdio>

#include "CommandLine.h"

namespace kivo::host {

namespace {

std::string padded(std::string text, std::size_t width, bool right = false) {
  if (text.size() >= width) return text;
  const std::string fill(width - text.size(), ' ');
  return right ? fill + text : text + fill;
}

std::string or_unknown(const std::string& text) { return text.empty() ? "?" : text; }

// Medium and Bad verdicts: what an operator looks at again.
bool worth_telling(const std::string& title) { return title.starts_with("Medium") || title.starts_with("Bad"); }

}  // namespace

std::string archive_table(const std::vector<web::ArchivedRun>& runs) {
  std::size_t file_width = 4;
  for (const web::ArchivedRun& run : runs) file_width = std::max(file_width, run.file.size());
  std::string text = padded("run", 6, true) + "  " + padded("file", file_width) + "  " +
                     padded("first event (UTC)", 20) + "  " + padded("last event (UTC)", 20) + "  " +
                     padded("data events", 11, true) + "  " + padded("verdict", 7) + "  kivo\n";
  for (const web::ArchivedRun& run : runs) {
    text += padded(run.run >= 0 ? std::to_string(run.run) : "?", 6, true) + "  " + padded(run.file, file_width) + "  ";
    if (!run.problem.empty()) {
      text += "cannot be read: " + run.problem + "\n";
      continue;
    }
    text += padded(or_unknown(run.first_event), 20) + "  " + padded(or_unknown(run.last_event), 20) + "  " +
            padded(run.data_events >= 0 ? std::to_string(run.data_events) : "?", 11, true) + "  " +
            padded(or_unknown(run.overall), 7) + "  " + or_unknown(run.version) +
            (run.cut_short ? "  cut short: no end-of-run event" : "") + "\n";
    if (run.overall == "Null" && !run.overall_reason.empty())
      text += "        quality_overall: Null: " + run.overall_reason + "\n";
    for (const auto& [name, title] : run.verdicts)
      if (worth_telling(title)) text += "        " + name + ": " + title + "\n";
  }
  if (runs.empty()) text += "(no archived runs)\n";
  return text;
}

int print_archive(const std::string& directory) {
  std::vector<web::ArchivedRun> runs;
  std::string error;
  if (!web::list_archive(directory, runs, error)) {
    std::fprintf(stderr, "%s\n", eventio::usage_message("kivo", "--list-archive", error).c_str());
    return 2;  // a directory that cannot be listed is a bad option, as for --archive
  }
  std::fputs(archive_table(runs).c_str(), stdout);
  return 0;
}

}  // namespace kivo::host
