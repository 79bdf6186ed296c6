#include "RunRecord.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>

namespace kivo::registry {

namespace {

using nlohmann::json;

std::optional<int> index_of(const std::string& text) {
  int value = 0;
  const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (status != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

// "quality_occupancy_2_5" -> check "occupancy", stave 2, chip 5.
RunVerdict verdict_of(const std::string& name, const std::string& title) {
  RunVerdict verdict;
  verdict.name = name.substr(std::string_view(web::kVerdictPrefix).size());
  std::string check = verdict.name;
  std::vector<int> numbers;
  while (numbers.size() < 2) {
    const std::size_t underscore = check.rfind('_');
    if (underscore == std::string::npos) break;
    const std::optional<int> number = index_of(check.substr(underscore + 1));
    if (!number) break;
    numbers.insert(numbers.begin(), *number);
    check.resize(underscore);
  }
  verdict.check = check;
  if (!numbers.empty()) verdict.stave = numbers[0];
  if (numbers.size() > 1) verdict.chip = numbers[1];
  const std::size_t colon = title.find(": ");
  verdict.verdict = title.substr(0, colon);
  verdict.reason = colon == std::string::npos ? "" : title.substr(colon + 2);
  return verdict;
}

std::optional<double> number_of(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::optional<bool> seen(int flag) {
  if (flag < 0) return std::nullopt;
  return flag == 1;
}

template <class Value>
json optional_json(const std::optional<Value>& value) {
  return value ? json(*value) : json(nullptr);
}

template <class Value>
std::optional<Value> optional_of(const json& object, const char* key) {
  const auto found = object.find(key);
  if (found == object.end() || found->is_null()) return std::nullopt;
  return found->get<Value>();
}

}  // namespace

RunRecord record_of(const web::ArchivedRun& run, const std::string& stand, const std::string& path) {
  RunRecord record;
  record.stand = run.stand.empty() ? stand : run.stand;
  record.run = run.run;
  record.file = run.file;
  if (!path.empty()) {
    record.path = path;
    record.bytes = run.bytes;
  }
  record.first_event = run.first_event;
  record.last_event = run.last_event;
  if (run.data_events >= 0) record.data_events = run.data_events;
  record.begin_seen = seen(run.begin_seen);
  record.end_seen = seen(run.end_seen);
  record.version = run.version;
  record.overall = run.overall;
  record.overall_reason = run.overall_reason;
  for (const auto& [name, title] : run.verdicts) record.verdicts.push_back(verdict_of(name, title));
  for (const auto& [name, text] : run.figures)
    if (const std::optional<double> value = number_of(text)) record.figures.emplace_back(name, *value);
  return record;
}

std::string record_path(const std::string& file) {
  std::error_code error;
  std::filesystem::path path = std::filesystem::weakly_canonical(std::filesystem::absolute(file, error), error);
  return error ? std::filesystem::absolute(file, error).lexically_normal().string() : path.string();
}

std::string verdict_title(const RunVerdict& verdict) { return verdict.verdict + ": " + verdict.reason; }

std::string record_json(const RunRecord& record) {
  json verdicts = json::array();
  for (const RunVerdict& verdict : record.verdicts)
    verdicts.push_back({{"name", verdict.name},
                        {"check", verdict.check},
                        {"stave", optional_json(verdict.stave)},
                        {"chip", optional_json(verdict.chip)},
                        {"verdict", verdict.verdict},
                        {"reason", verdict.reason}});
  json figures = json::array();
  for (const auto& [name, value] : record.figures) figures.push_back({name, value});
  const json object{{"stand", record.stand},
                    {"run", record.run},
                    {"file", record.file},
                    {"path", optional_json(record.path)},
                    {"bytes", optional_json(record.bytes)},
                    {"first_event", record.first_event},
                    {"last_event", record.last_event},
                    {"data_events", optional_json(record.data_events)},
                    {"begin_seen", optional_json(record.begin_seen)},
                    {"end_seen", optional_json(record.end_seen)},
                    {"version", record.version},
                    {"overall", record.overall},
                    {"overall_reason", record.overall_reason},
                    {"verdicts", verdicts},
                    {"figures", figures}};
  return object.dump(-1, ' ', false, json::error_handler_t::replace);
}

bool parse_record(const std::string& text, RunRecord& record, std::string& error) {
  try {
    const json object = json::parse(text);
    record = RunRecord();
    record.stand = object.at("stand").get<std::string>();
    record.run = object.at("run").get<int>();
    record.file = object.at("file").get<std::string>();
    record.path = optional_of<std::string>(object, "path");
    record.bytes = optional_of<long long>(object, "bytes");
    record.first_event = object.at("first_event").get<std::string>();
    record.last_event = object.at("last_event").get<std::string>();
    record.data_events = optional_of<long long>(object, "data_events");
    record.begin_seen = optional_of<bool>(object, "begin_seen");
    record.end_seen = optional_of<bool>(object, "end_seen");
    record.version = object.at("version").get<std::string>();
    record.overall = object.at("overall").get<std::string>();
    record.overall_reason = object.at("overall_reason").get<std::string>();
    for (const json& verdict : object.at("verdicts"))
      record.verdicts.push_back({verdict.at("name").get<std::string>(), verdict.at("check").get<std::string>(),
                                 optional_of<int>(verdict, "stave"), optional_of<int>(verdict, "chip"),
                                 verdict.at("verdict").get<std::string>(), verdict.at("reason").get<std::string>()});
    for (const json& figure : object.at("figures"))
      record.figures.emplace_back(figure.at(0).get<std::string>(), figure.at(1).get<double>());
    return true;
  } catch (const json::exception& failure) {
    error = std::string("not a run record: ") + failure.what();
    return false;
  }
}

}  // namespace kivo::registry
