#include "fault_runs.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "kivo_process.h"

namespace kivo::test {

std::optional<Hit> parse_hit(const std::string& line) {
  int unit, channel, row, column;
  if (std::sscanf(line.c_str(), "hit %d %d %d %d", &unit, &channel, &row, &column) != 4) return std::nullopt;
  for (int s = 0; s < 4; ++s)
    for (int c = 0; c < 9; ++c)
      if (kChipChannels[s][c][0] == unit && kChipChannels[s][c][1] == channel) return Hit{s, c, row, column};
  return std::nullopt;
}

std::string hit_line(const Hit& hit) {
  return "hit " + std::to_string(kChipChannels[hit.stave][hit.chip][0]) + " " +
         std::to_string(kChipChannels[hit.stave][hit.chip][1]) + " " + std::to_string(hit.row) + " " +
         std::to_string(hit.column);
}

std::string edited(const std::string& text, const Edit& edit, int onset) {
  std::istringstream lines(text);
  std::ostringstream out;
  std::mt19937 rng(5);
  std::string line;
  int event = -1;
  while (std::getline(lines, line)) {
    if (line.rfind("event", 0) == 0) {
      ++event;
      out << line << "\n";
      if (event >= onset && edit.event) edit.event(event);
      if (event >= onset && edit.added)
        for (const Hit& hit : edit.added(rng)) out << hit_line(hit) << "\n";
      continue;
    }
    const std::optional<Hit> hit = event >= onset && edit.hit ? parse_hit(line) : std::nullopt;
    if (!hit) {
      out << line << "\n";
      continue;
    }
    if (const std::optional<Hit> kept = edit.hit(*hit)) out << hit_line(*kept) << "\n";
  }
  return out.str();
}

std::string one_event_late(const std::string& text, int stave, int onset) {
  std::istringstream lines(text);
  std::ostringstream out;
  std::vector<std::string> held;  // the stave's hits of the event before
  std::string line;
  int event = -1;
  while (std::getline(lines, line)) {
    if (line.rfind("event", 0) == 0) {
      ++event;
      out << line << "\n";
      for (const std::string& late : held) out << late << "\n";
      held.clear();
      continue;
    }
    const std::optional<Hit> hit = event >= onset ? parse_hit(line) : std::nullopt;
    if (hit && hit->stave == stave)
      held.push_back(line);
    else
      out << line << "\n";
  }
  return out.str();
}

std::string data_events_of(const std::string& text) {
  std::istringstream lines(text);
  std::ostringstream out;
  std::string line;
  while (std::getline(lines, line))
    if (line.rfind("run ", 0) != 0 && line.rfind("end ", 0) != 0) out << line << "\n";
  return out.str();
}

bool alarming(const std::string& verdict) { return verdict == "Medium" || verdict == "Bad"; }

namespace {

std::string from_base64(const std::string& text) {
  static const std::string kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string bytes;
  unsigned bits = 0;
  int count = 0;
  for (char c : text) {
    const std::size_t digit = kDigits.find(c);
    if (digit == std::string::npos) continue;
    bits = bits << 6 | static_cast<unsigned>(digit);
    count += 6;
    if (count >= 8) {
      count -= 8;
      bytes.push_back(static_cast<char>(bits >> count & 0xFF));
    }
  }
  return bytes;
}

// A JSROOT array: plain, or compressed ("$arr" with runs "p"/"v"/"n" or
// the bytes in base64 "b").
std::vector<double> array_of(const nlohmann::ordered_json& node) {
  if (node.is_array()) return node.get<std::vector<double>>();
  std::vector<double> values(node.at("len").get<std::size_t>(), 0.0);
  const bool doubles = node.at("$arr") == "Float64";
  std::size_t at = 0;
  double last = 0;
  for (const auto& [key, value] : node.items()) {
    if (key[0] == 'p') {
      at = value.get<std::size_t>();
    } else if (key[0] == 'v' && value.is_array()) {
      for (const auto& v : value) values.at(at++) = v.get<double>();
    } else if (key[0] == 'v') {
      values.at(at++) = last = value.get<double>();
    } else if (key[0] == 'n') {
      for (std::size_t i = 1; i < value.get<std::size_t>(); ++i) values.at(at++) = last;
    } else if (key == "b") {
      const std::string bytes = from_base64(value.get<std::string>());
      const std::size_t size = doubles ? sizeof(double) : sizeof(float);
      for (std::size_t i = 0; i + size <= bytes.size() && at < values.size(); i += size) {
        if (doubles) {
          double v;
          std::memcpy(&v, bytes.data() + i, size);
          values[at++] = v;
        } else {
          float v;
          std::memcpy(&v, bytes.data() + i, size);
          values[at++] = v;
        }
      }
    }
  }
  return values;
}

}  // namespace

// The JSON object that holds `at`: from its opening brace to the matching
// closing one, strings skipped.
std::string enclosing_object(const std::string& text, std::size_t at) {
  std::size_t start = text.rfind("{\"_typename\"", at);
  if (start == std::string::npos) return {};
  int depth = 0;
  bool in_string = false;
  for (std::size_t i = start; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') ++i;
      else if (c == '"') in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '{') {
      ++depth;
    } else if (c == '}' && --depth == 0) {
      return text.substr(start, i - start + 1);
    }
  }
  return {};
}

SavedMap saved_map(const std::string& json_text, const std::string& name) {
  const std::size_t at = json_text.find("\"fName\":\"" + name + "\"");
  if (at == std::string::npos) return {};
  // Only this object is parsed: keys keep their order, which the compressed arrays need.
  const nlohmann::ordered_json object = nlohmann::ordered_json::parse(enclosing_object(json_text, at));
  SavedMap map;
  map.nx = object["fXaxis"]["fNbins"];
  map.xmin = object["fXaxis"]["fXmin"];
  map.xmax = object["fXaxis"]["fXmax"];
  map.ny = object["fYaxis"]["fNbins"];
  map.ymin = object["fYaxis"]["fXmin"];
  map.ymax = object["fYaxis"]["fXmax"];
  map.bins = array_of(object["fArray"]);
  return map;
}

void FaultRuns::SetUp() { directory = temporary_directory(); }
void FaultRuns::TearDown() { std::filesystem::remove_all(directory); }

std::string FaultRuns::simulate(const std::vector<std::string>& options, const std::string& name, int count) {
  std::vector<std::string> argv = {KIVO_SIM, "--events", std::to_string(count < 0 ? events : count), "-o",
                                   path(name)};
  argv.insert(argv.end(), options.begin(), options.end());
  const Finished sim = run_program(argv);
  EXPECT_EQ(sim.status, 0) << sim.err;
  return path(name);
}

std::string FaultRuns::text_of(const std::string& stream) {
  const Finished dump = run_program({KIVO_DUMP, stream});
  EXPECT_EQ(dump.status, 0) << dump.err;
  return dump.out;
}

std::string FaultRuns::with_fault(const std::string& stream, const Edit& edit) {
  pack(edited(text_of(stream), edit, onset), path("edited.kevt"));
  return path("edited.kevt");
}

std::vector<Change> FaultRuns::judge_with(const std::string& stream, const std::vector<std::string>& options) {
  const std::string log = path("quality.log"), alarm_file = path("alarms.txt");
  std::filesystem::remove(log);
  std::filesystem::remove(alarm_file);
  std::vector<std::string> argv = {KIVO_BIN, "-b", "-q", "-e", "set_refresh(" + std::to_string(refresh) + ")",
                                   "--quality-log", log, "--on-bad",
                                   "printf '%s|%s|%s\\n' \"$KIVO_CHECK\" \"$KIVO_STAVE\" \"$KIVO_REASON\" >> " +
                                       alarm_file};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back(stream);
  const Finished run = run_program(argv);
  EXPECT_EQ(run.status, 0) << run.err;
  messages = run.err;
  std::vector<Change> changes;
  std::istringstream lines(read_file(log));
  std::string line;
  while (std::getline(lines, line)) {
    const nlohmann::json j = nlohmann::json::parse(line);
    changes.push_back({j["event"].get<int>(), j["check"], j["stave"].is_null() ? -1 : j["stave"].get<int>(),
                       j["chip"].is_null() ? -1 : j["chip"].get<int>(), j["old"], j["new"], j["reason"]});
  }
  std::istringstream fired(read_file(alarm_file));
  alarms.clear();
  while (std::getline(fired, line)) alarms.push_back(line);
  return changes;
}

void FaultRuns::expect_quiet(const std::vector<Change>& changes, const std::vector<std::string>& checks) {
  const auto judged = [&checks](const std::string& check) {
    return checks.empty() || std::find(checks.begin(), checks.end(), check) != checks.end();
  };
  for (const Change& change : changes)
    EXPECT_FALSE(judged(change.check) && alarming(change.to))
        << "event " << change.event << " " << change.check << " stave " << change.stave << ": " << change.reason;
  for (const std::string& alarm : alarms)
    EXPECT_FALSE(judged(alarm.substr(0, alarm.find('|')))) << alarm;
}

void FaultRuns::expect_found(const std::vector<Change>& changes, const std::string& check, int stave, int chip,
                             int refreshes, const std::string& reason_part) {
  const auto found = std::find_if(changes.begin(), changes.end(), [&](const Change& c) {
    return c.check == check && c.stave == stave && (chip < 0 || c.chip == chip) && alarming(c.to);
  });
  ASSERT_NE(found, changes.end()) << check << " never flagged stave " << stave;
  EXPECT_LE(found->event, onset + refreshes * refresh + 1) << found->reason;
  EXPECT_GE(found->event, onset) << "flagged before the fault: " << found->reason;
  EXPECT_NE(found->reason.find(reason_part), std::string::npos) << found->reason;
  for (const Change& change : changes)
    if (change.stave != stave) {
      EXPECT_FALSE(alarming(change.to)) << "another stave flagged: " << change.check << " stave " << change.stave
                                        << ": " << change.reason;
    }
}

}  // namespace kivo::test
