#include "RunCatalogue.h"

#include <civetweb.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <regex>

namespace kivo::web {

namespace {

constexpr std::size_t kMaxFilter = 256;
constexpr const char* kOverallVerdicts[] = {"Good", "Medium", "Bad", "Null"};

// A variable of the query; false when it is too long.
bool variable(const char* query, const char* name, std::string& value) {
  value.clear();
  if (query == nullptr) return true;
  char buffer[kMaxFilter + 1];
  const int length = mg_get_var(query, std::strlen(query), name, buffer, sizeof buffer);
  if (length == -2) return false;
  if (length > 0) value.assign(buffer, std::size_t(length));
  return true;
}

template <std::size_t N>
bool one_of(const std::string& text, const char* const (&choices)[N]) {
  return std::any_of(std::begin(choices), std::end(choices), [&](const char* choice) { return text == choice; });
}

// Whether `text` is UTF-8 without control characters.
bool plain_utf8(const std::string& text) {
  for (std::size_t at = 0; at < text.size();) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead < 0x80            ? 1
                               : (lead >> 5) == 0x6   ? 2
                               : (lead >> 4) == 0xe   ? 3
                               : (lead >> 3) == 0x1e  ? 4
                                                      : 0;
    if (length == 0 || at + length > text.size()) return false;
    if (length == 1 && (lead < 0x20 || lead == 0x7f)) return false;
    for (std::size_t k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(text[at + k]) >> 6) != 0x2) return false;
    at += length;
  }
  return true;
}

}  // namespace

bool is_run_date(const std::string& text) {
  static const std::regex date(R"(\d{4}-\d{2}-\d{2}(T\d{2}:\d{2}:\d{2}Z)?)");
  return std::regex_match(text, date);
}

std::string until_limit(const std::string& until) { return until.size() == 10 ? until + "T23:59:59Z" : until; }

std::string parse_runs_query(const char* query_string, RunsQuery& query) {
  query = RunsQuery();
  std::string last;
  if (!variable(query_string, "stand", query.stand) || !variable(query_string, "verdict", query.verdict) ||
      !variable(query_string, "certification", query.certification) ||
      !variable(query_string, "since", query.since) || !variable(query_string, "until", query.until) ||
      !variable(query_string, "last", last))
    return "a filter longer than " + std::to_string(kMaxFilter) + " bytes";
  if (!query.verdict.empty() && !one_of(query.verdict, kOverallVerdicts))
    return "verdict '" + query.verdict + "' is not Good, Medium, Bad or Null";
  if (!query.certification.empty() && query.certification != "none" &&
      !one_of(query.certification, kCertificationVerdicts))
    return "certification '" + query.certification + "' is not Good, Bad, not for analysis or none";
  for (const std::string* date : {&query.since, &query.until})
    if (!date->empty() && !is_run_date(*date))
      return "'" + *date + "' is not a date (2024-05-01) or a time in UTC (2024-05-01T03:12:45Z)";
  if (!last.empty()) {
    int value = 0;
    const auto [end, status] = std::from_chars(last.data(), last.data() + last.size(), value);
    if (status != std::errc() || end != last.data() + last.size() || value < 1 || value > kMaxRunsListed)
      return "last '" + last + "' is not a number of runs from 1 to " + std::to_string(kMaxRunsListed);
    query.last = value;
  }
  return {};
}

std::string certification_problem(const std::string& verdict, const std::string& comment) {
  if (!one_of(verdict, kCertificationVerdicts))
    return "the judgement '" + verdict.substr(0, 40) + "' is not Good, Bad or not for analysis";
  if (comment.size() > kMaxCertificationComment)
    return "the comment is longer than " + std::to_string(kMaxCertificationComment) + " bytes";
  if (!plain_utf8(comment)) return "the comment is not UTF-8 text on one line";
  if (verdict != "Good" && comment.find_first_not_of(' ') == std::string::npos)
    return "a run judged " + verdict + " needs a comment that says why";
  return {};
}

}  // namespace kivo::web
