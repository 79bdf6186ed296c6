#include "ReferenceRun.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "RootObjectReader.h"
#include "TGraphAsymmErrors.h"
#include "TH1.h"
#include "TextFile.h"

namespace kivo::quality {

namespace {

using Json = nlohmann::ordered_json;  // the segments of a "$arr" array are read in order

constexpr int kHitsPerEventCells = 203;
constexpr int kDifferenceCells = 1025;

struct Wanted {
  std::string name;
  int cells;  // bins 0..n+1 expected; 0 for a graph
};

std::vector<Wanted> wanted_objects() {
  std::vector<Wanted> wanted = {{"hnevent", 3}};
  for (int s = 0; s < kStaves; ++s) {
    wanted.push_back({"hnhit_chip_" + std::to_string(s), kHitsPerEventCells});
    wanted.push_back({"gmpos_chip_" + std::to_string(s), 0});
  }
  for (int s = 0; s < kDifferenceStaves; ++s) {
    wanted.push_back({"hdiffcol_chip_" + std::to_string(s), kDifferenceCells});
    wanted.push_back({"hdiffrow_chip_" + std::to_string(s), kDifferenceCells});
  }
  return wanted;
}

class ArrayError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

int base64_value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

std::vector<unsigned char> base64_bytes(const std::string& text) {
  std::vector<unsigned char> bytes;
  std::uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    if (c == '=') break;
    const int value = base64_value(c);
    if (value < 0) throw ArrayError("bad base64 data");
    bits = bits << 6 | static_cast<std::uint32_t>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      bytes.push_back(static_cast<unsigned char>(bits >> count & 0xff));
    }
  }
  return bytes;
}

double number_of(const Json& value) {
  if (!value.is_number()) throw ArrayError("an element is not a number");
  return value.get<double>();
}

// Raw little-endian elements of `type` from `bytes` into `out` from `at`.
void put_bytes(const std::string& type, const std::vector<unsigned char>& bytes, std::vector<double>& out, std::size_t at) {
  const std::size_t size = type == "Float64" ? 8 : type == "Float32" || type == "Int32" ? 4 : 0;
  if (size == 0) throw ArrayError("unsupported array type " + type);
  if (bytes.size() % size != 0 || at + bytes.size() / size > out.size()) throw ArrayError("base64 data overruns the array");
  for (std::size_t i = 0; i < bytes.size() / size; ++i) {
    const unsigned char* element = bytes.data() + i * size;
    if (type == "Float64") {
      double value;
      std::memcpy(&value, element, size);
      out[at + i] = value;
    } else if (type == "Float32") {
      float value;
      std::memcpy(&value, element, size);
      out[at + i] = value;
    } else {
      std::int32_t value;
      std::memcpy(&value, element, size);
      out[at + i] = value;
    }
  }
}

void put(std::vector<double>& out, std::size_t at, double value, std::size_t count = 1) {
  if (at + count > out.size()) throw ArrayError("values overrun the array");
  std::fill(out.begin() + static_cast<long>(at), out.begin() + static_cast<long>(at + count), value);
}

// A plain array, or JSROOT's compressed "$arr" object: segments of a start
// position "p", values "v" (an array, or one value repeated "n" times) and
// raw bytes "b", over a default value "dflt".
std::vector<double> decode_array(const Json& node) {
  std::vector<double> out;
  if (node.is_array()) {
    for (const Json& value : node) out.push_back(number_of(value));
    return out;
  }
  if (!node.is_object() || !node.contains("$arr") || !node.contains("len")) throw ArrayError("not an array");
  const std::string type = node.at("$arr").get<std::string>();
  const double length = number_of(node.at("len"));
  if (length < 0 || length > 1e8) throw ArrayError("impossible array length");
  out.assign(static_cast<std::size_t>(length), node.contains("dflt") ? number_of(node.at("dflt")) : 0.0);
  std::size_t at = 0;
  for (auto it = node.begin(); it != node.end(); ++it) {
    const char letter = it.key().empty() ? ' ' : it.key()[0];
    if (letter == 'p') {
      at = static_cast<std::size_t>(number_of(it.value()));
    } else if (letter == 'b') {
      const std::vector<unsigned char> bytes = base64_bytes(it.value().get<std::string>());
      put_bytes(type, bytes, out, at);
      at += bytes.size() / (type == "Float64" ? 8 : 4);
    } else if (letter == 'v' && it.value().is_array()) {
      for (const Json& value : it.value()) put(out, at++, number_of(value));
    } else if (letter == 'v') {
      auto next = std::next(it);
      const bool repeated = next != node.end() && !next.key().empty() && next.key()[0] == 'n';
      const std::size_t count = repeated ? static_cast<std::size_t>(number_of(next.value())) : 1;
      put(out, at, number_of(it.value()), count);
      at += count;
      if (repeated) it = next;
    }
  }
  return out;
}

Bins histogram_bins(const Json& object, const Wanted& wanted) {
  if (!object.contains("fArray")) throw ArrayError("holds no bin contents");
  Bins bins = decode_array(object.at("fArray"));
  if (static_cast<int>(bins.size()) != wanted.cells)
    throw ArrayError("has " + std::to_string(static_cast<long>(bins.size()) - 2) + " bins, " +
                     std::to_string(wanted.cells - 2) + " expected");
  return bins;
}

std::optional<BeamFit> graph_point(const Json& object) {
  const double points = object.contains("fNpoints") ? number_of(object.at("fNpoints")) : 0;
  if (points < 1) return std::nullopt;
  const auto first = [&object](const char* member) {
    if (!object.contains(member)) throw ArrayError(std::string("lacks ") + member);
    const std::vector<double> values = decode_array(object.at(member));
    if (values.empty()) throw ArrayError(std::string(member) + " is empty");
    return values.front();
  };
  return BeamFit{first("fX"), first("fY"), first("fEXhigh"), first("fEYhigh")};
}

// Reads the saved list event by event (SAX) and builds only the objects
// named in `wanted`: the hit maps, canvas and other objects around them are
// passed over without being built, which keeps loading a large file quick.
class WantedObjects {
 public:
  using string_t = Json::string_t;

  explicit WantedObjects(const std::vector<Wanted>& wanted) : wanted_(wanted) {}

  std::map<std::string, Json>& found() { return found_; }
  bool is_list() const { return is_list_; }

  bool null() { return value(nullptr); }
  bool boolean(bool v) { return value(v); }
  bool number_integer(Json::number_integer_t v) { return value(v); }
  bool number_unsigned(Json::number_unsigned_t v) { return value(v); }
  bool number_float(Json::number_float_t v, const string_t&) { return value(v); }
  bool string(string_t& v) {
    if (depth_ == 1 && key_ == "_typename") is_list_ = v == "TList";
    // An object of the list is built only while it may still be wanted: its
    // type and then its name can rule it out.
    const bool element_member = recording() && stack_.size() == 1;
    if (element_member && key_ == "_typename" && v != "TH1F" && v != "TH1D" && v != "TGraphAsymmErrors") stack_.clear();
    if (element_member && key_ == "fName" && !is_wanted(v)) stack_.clear();
    return value(v);
  }
  bool binary(Json::binary_t&) { return value(nullptr); }
  bool key(string_t& k) {
    key_ = k;
    return true;
  }
  bool start_object(std::size_t) { return open(Json::object()); }
  bool start_array(std::size_t) {
    if (depth_ == 1 && key_ == "arr") in_list_ = true;
    return open(Json::array());
  }
  bool end_object() { return close(); }
  bool end_array() {
    if (depth_ == 2 && in_list_) in_list_ = false;
    return close();
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& failure) {
    throw ArrayError(std::string("not a JSON file written by save(): ") + failure.what());
  }

 private:
  bool recording() const { return !stack_.empty(); }
  bool is_wanted(const std::string& name) const {
    for (const Wanted& w : wanted_)
      if (w.name == name) return true;
    return false;
  }
  // Adds a finished value to the container being built, if any.
  template <class T>
  bool value(const T& v) {
    if (!recording()) return true;
    Json& top = *stack_.back();
    if (top.is_object()) top[key_] = v;
    else top.push_back(v);
    return true;
  }
  bool open(Json container) {
    ++depth_;
    if (depth_ == 3 && in_list_) {  // an object of the saved list
      element_ = std::move(container);
      stack_ = {&element_};
      return true;
    }
    if (!recording()) return true;
    Json& top = *stack_.back();
    if (top.is_object()) {
      top[key_] = std::move(container);
      stack_.push_back(&top[key_]);
    } else {
      top.push_back(std::move(container));
      stack_.push_back(&top.back());
    }
    return true;
  }
  bool close() {
    if (recording()) {
      stack_.pop_back();
      if (stack_.empty() && depth_ == 3 && element_.contains("fName"))
        found_.emplace(element_.at("fName").get<std::string>(), std::move(element_));
    }
    --depth_;
    return true;
  }

  const std::vector<Wanted>& wanted_;
  std::map<std::string, Json> found_;
  int depth_ = 0;
  bool in_list_ = false;
  bool is_list_ = false;
  std::string key_;
  Json element_;
  std::vector<Json*> stack_;  // containers being built, innermost last
};

std::map<std::string, Json> wanted_in(const std::string& text, const std::vector<Wanted>& wanted) {
  WantedObjects reader(wanted);
  Json::sax_parse(text, &reader);
  if (!reader.is_list()) throw ArrayError("not a list of objects as save() writes it");
  return std::move(reader.found());
}

// The hit profiles and the beam spot from them, when the file has them.
void add_profiles(ReferenceRun& run, std::map<std::string, Json>& found) {
  for (int s = 0; s < kStaves; ++s) {
    const auto columns = found.find(profile_name("double_column", s)), rows = found.find(profile_name("row", s));
    if (columns == found.end() || rows == found.end()) continue;
    try {
      Bins column_bins = histogram_bins(columns->second, {columns->first, kDoubleColumns + 2});
      Bins row_bins = histogram_bins(rows->second, {rows->first, kStaveRows + 2});
      HitProfiles& profiles = run.profiles[static_cast<std::size_t>(s)];
      profiles.double_columns.assign(column_bins.begin() + 1, column_bins.end() - 1);
      profiles.rows.assign(row_bins.begin() + 1, row_bins.end() - 1);
    } catch (const std::exception& failure) {
      throw ArrayError(columns->first + " " + failure.what());
    }
    const HitProfiles& profiles = run.profiles[static_cast<std::size_t>(s)];
    run.beam_spot[static_cast<std::size_t>(s)] =
        measure_beam(StaveCounts{run.events, profiles.double_columns, profiles.rows}, ProfileMask{});
  }
}

ReferenceRun assemble(const std::string& path, std::map<std::string, Json>& found) {
  ReferenceRun run;
  run.path = path;
  for (const Wanted& wanted : wanted_objects()) {
    auto it = found.find(wanted.name);
    if (it == found.end()) throw ArrayError("lacks the object " + wanted.name);
    try {
      const Json& object = it->second;
      const std::string& name = wanted.name;
      const std::size_t stave = static_cast<std::size_t>(name.back() - '0');
      if (name == "hnevent") run.events = histogram_bins(object, wanted)[1];
      else if (name.rfind("gmpos_chip_", 0) == 0) run.beam[stave] = graph_point(object);
      else if (name.rfind("hnhit_chip_", 0) == 0) run.hits_per_event[stave] = histogram_bins(object, wanted);
      else if (name.rfind("hdiffcol_chip_", 0) == 0) run.column_differences[stave] = histogram_bins(object, wanted);
      else run.row_differences[stave] = histogram_bins(object, wanted);
    } catch (const std::exception& failure) {
      throw ArrayError(wanted.name + " " + failure.what());
    }
  }
  add_profiles(run, found);
  return run;
}

std::vector<Wanted> wanted_with_profiles() {
  std::vector<Wanted> wanted = wanted_objects();
  for (int s = 0; s < kStaves; ++s) {
    wanted.push_back({profile_name("double_column", s), kDoubleColumns + 2});
    wanted.push_back({profile_name("row", s), kStaveRows + 2});
  }
  return wanted;
}

// A histogram or graph of a ROOT file in the members the JSON save gives it.
Json as_saved(const TObject& object) {
  if (auto* histogram = dynamic_cast<const TH1*>(&object)) {
    Json cells = Json::array();
    for (Int_t cell = 0; cell < histogram->GetNcells(); ++cell) cells.push_back(histogram->GetBinContent(cell));
    return {{"fArray", std::move(cells)}};
  }
  if (auto* graph = dynamic_cast<const TGraphAsymmErrors*>(&object)) {
    const auto values = [&](const Double_t* v) { return Json(std::vector<double>(v, v + graph->GetN())); };
    return {{"fNpoints", graph->GetN()}, {"fX", values(graph->GetX())}, {"fY", values(graph->GetY())},
            {"fEXhigh", values(graph->GetEXhigh())}, {"fEYhigh", values(graph->GetEYhigh())}};
  }
  throw ArrayError(std::string("is a ") + object.ClassName() + ", not a histogram or graph");
}

// The wanted objects of a ROOT file (a run file of the archive, a save("x.root")).
std::map<std::string, Json> wanted_in_root_file(const std::string& path, const std::vector<Wanted>& wanted) {
  std::map<std::string, Json> found;
  for (const Wanted& w : wanted) {
    std::string error;
    std::unique_ptr<TObject> object = rootcompat::ReadFileObject(path, w.name, error);
    if (object) found.emplace(w.name, as_saved(*object));
    else if (error.rfind("holds no object", 0) != 0) throw ArrayError(error);
  }
  if (!found.contains("hnevent")) throw ArrayError("a ROOT file without the monitor's objects (it holds no hnevent)");
  return found;
}

// "root" (a ROOT file), "json" (text starting with an object) or "other", by the first bytes.
std::string kind_of_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  char start[4] = {};
  file.read(start, sizeof start);
  if (file.gcount() == 4 && std::string(start, 4) == "root") return "root";
  std::ifstream text(path);
  char c = 0;
  while (text.get(c) && std::isspace(static_cast<unsigned char>(c))) {
  }
  return text && c == '{' ? "json" : "other";
}

}  // namespace

std::optional<ReferenceRun> load_reference(const std::string& path, std::string& error) {
  std::string text;
  const std::vector<Wanted> wanted = wanted_with_profiles();
  try {
    if (kind_of_file(path) == "root") {
      std::map<std::string, Json> found = wanted_in_root_file(path, wanted);
      return assemble(path, found);
    }
    if (!read_text_file(path, text, error)) return std::nullopt;
    if (kind_of_file(path) != "json") {
      error = path + ": not a ROOT or JSON save; a reference is a run file of the archive, a save(\"x.root\") or a save(\"x.json\")";
      return std::nullopt;
    }
    std::map<std::string, Json> found = wanted_in(text, wanted);
    return assemble(path, found);
  } catch (const std::exception& failure) {
    error = path + ": " + failure.what();
  }
  return std::nullopt;
}

}  // namespace kivo::quality
