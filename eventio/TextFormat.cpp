#include "TextFormat.h"

#include <charconv>
#include <istream>
#include <ostream>
#include <string_view>

namespace kivo::eventio {
namespace {

constexpr std::uint32_t kPlainHitMaxRow = 512;
constexpr std::uint32_t kPlainHitMaxCol = 1024;

std::vector<std::string_view> split_words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t pos = 0;
  while (pos < line.size()) {
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t' || line[pos] == '\r')) ++pos;
    const std::size_t start = pos;
    while (pos < line.size() && line[pos] != ' ' && line[pos] != '\t' && line[pos] != '\r') ++pos;
    if (pos > start) words.push_back(line.substr(start, pos - start));
  }
  return words;
}

// Decimal (optionally negative) or 0x hexadecimal, within [min, max].
bool parse_integer(std::string_view text, long long min, long long max, long long& value) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
  return ec == std::errc() && ptr == end && value >= min && value <= max;
}

class TextParser {
 public:
  explicit TextParser(std::vector<EventRecord>& out) : out_(out), first_(out.size()) {}

  // Handles one line; on error sets error_ and returns false.
  bool line(std::string_view text) {
    text = text.substr(0, text.find('#'));
    words_ = split_words(text);
    if (words_.empty()) return true;
    const std::string_view key = words_[0];
    if (key == "run") return begin_or_end_run(kBeginRunEventType);
    if (key == "end") return begin_or_end_run(kEndRunEventType);
    if (key == "type") return other_type();
    if (key == "event") return data_event();
    if (key == "unit") return unit();
    if (key == "hit") return hit_or_word(true);
    if (key == "word") return hit_or_word(false);
    return fail("unknown keyword '" + std::string(key) + "'");
  }

  const std::string& error() const { return error_; }

 private:
  bool fail(std::string what) {
    error_ = std::move(what);
    return false;
  }

  bool expect_count(std::size_t count, const char* usage) {
    if (words_.size() == count) return true;
    return fail(std::string(words_.size() < count ? "too few" : "too many") +
                " fields; expected '" + usage + "'");
  }

  bool number(std::size_t index, long long min, long long max, const char* what, long long& value) {
    if (parse_integer(words_[index], min, max, value)) return true;
    return fail(std::string(what) + " '" + std::string(words_[index]) + "' is not a number in " +
                std::to_string(min) + ".." + std::to_string(max));
  }

  EventRecord& push(int type, int run, bool has_packet) {
    EventRecord& record = out_.emplace_back();
    record.type = type;
    record.run = run;
    record.has_packet = has_packet;
    record.sequence = static_cast<std::uint32_t>(out_.size() - first_ - 1);
    return record;
  }

  // "run N", "end N" and "type T", each with an optional third word
  // "packet": the event carries packet 2000, which the lines below fill.
  bool with_packet(const char* usage, bool& packet) {
    packet = words_.size() == 3 && words_[2] == "packet";
    return packet || expect_count(2, usage);
  }

  bool begin_or_end_run(int type) {
    long long run = 0;
    bool packet = false;
    if (!with_packet(type == kBeginRunEventType ? "run N" : "end N", packet) ||
        !number(1, INT32_MIN, INT32_MAX, "run number", run))
      return false;
    push(type, static_cast<int>(run), packet);
    if (type == kBeginRunEventType) current_run_ = static_cast<int>(run);
    packet_open_ = packet;
    return true;
  }

  bool other_type() {
    long long type = 0;
    bool packet = false;
    if (!with_packet("type T", packet) || !number(1, INT32_MIN, INT32_MAX, "event type", type)) return false;
    push(static_cast<int>(type), current_run_, packet);
    packet_open_ = packet;
    return true;
  }

  bool data_event() {
    const bool nopacket = words_.size() == 2 && words_[1] == "nopacket";
    if (words_.size() > 1 && !nopacket)
      return fail("unexpected '" + std::string(words_[1]) + "'; expected 'event' or 'event nopacket'");
    push(kDataEventType, current_run_, !nopacket);
    packet_open_ = !nopacket;
    return true;
  }

  bool require_packet() {
    if (packet_open_) return true;
    std::string what(words_[0]);
    what += " outside a data event (needs an 'event' line before it)";
    return fail(what);
  }

  bool unit() {
    long long ruid = 0;
    if (!expect_count(2, "unit R") || !require_packet() ||
        !number(1, 0, kMaxUnitOrChannel, "readout unit", ruid))
      return false;
    out_.back().unit(static_cast<int>(ruid));
    return true;
  }

  bool hit_or_word(bool is_hit) {
    long long ruid = 0, ruchn = 0;
    if (!expect_count(is_hit ? 5 : 4, is_hit ? "hit R C ROW COL" : "word R C VALUE") ||
        !require_packet() || !number(1, 0, kMaxUnitOrChannel, "readout unit", ruid) ||
        !number(2, 0, kMaxUnitOrChannel, "channel", ruchn))
      return false;
    std::uint32_t word = 0;
    if (is_hit) {
      long long row = 0, col = 0;
      if (!number(3, 0, 0xFFFF, "row", row) || !number(4, 0, 0xFFFF, "column", col)) return false;
      word = static_cast<std::uint32_t>(row) << 16 | static_cast<std::uint32_t>(col);
    } else {
      long long value = 0;
      if (!number(3, 0, UINT32_MAX, "hit word", value)) return false;
      word = static_cast<std::uint32_t>(value);
    }
    out_.back().add_word(static_cast<int>(ruid), static_cast<int>(ruchn), word);
    return true;
  }

  std::vector<EventRecord>& out_;
  std::size_t first_;
  std::vector<std::string_view> words_;
  std::string error_;
  int current_run_ = 0;
  bool packet_open_ = false;  // the last event line opened a packet 2000
};

void append_number(std::string& out, long long value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, result.ptr);
}

void append_hex_word(std::string& out, std::uint32_t value) {
  char digits[8];
  for (int i = 7; i >= 0; --i, value >>= 4) digits[i] = "0123456789abcdef"[value & 0xFu];
  out += "0x";
  out.append(digits, 8);
}

void append_word_line(std::string& out, int ruid, int ruchn, std::uint32_t word) {
  const std::uint32_t row = word >> 16, col = word & 0xFFFFu;
  const bool plain_hit = row < kPlainHitMaxRow && col < kPlainHitMaxCol;
  out += plain_hit ? "hit " : "word ";
  append_number(out, ruid);
  out += ' ';
  append_number(out, ruchn);
  out += ' ';
  if (plain_hit) {
    append_number(out, row);
    out += ' ';
    append_number(out, col);
  } else {
    append_hex_word(out, word);
  }
  out += '\n';
}

void append_units(std::string& out, const EventRecord& record) {
  for (const UnitWords& unit : record.units) {
    bool any_word = false;
    for (const ChannelWords& channel : unit.channels) {
      for (std::uint32_t word : channel.words) append_word_line(out, unit.ruid, channel.ruchn, word);
      any_word = any_word || !channel.words.empty();
    }
    if (!any_word) {
      out += "unit ";
      append_number(out, unit.ruid);
      out += '\n';
    }
  }
}

}  // namespace

bool parse_text(std::istream& in, std::vector<EventRecord>& out, std::string& error) {
  TextParser parser(out);
  std::string line;
  for (long long number = 1; std::getline(in, line); ++number) {
    if (!parser.line(line)) {
      error = "line " + std::to_string(number) + ": " + parser.error();
      return false;
    }
  }
  if (in.bad()) {
    error = "read error";
    return false;
  }
  return true;
}

void write_text_record(std::ostream& out, const EventRecord& record, int& current_run) {
  std::string text;
  if (record.type == kDataEventType) {
    text = record.has_packet ? "event\n" : "event nopacket\n";
  } else {
    text = record.type == kBeginRunEventType ? "run " : record.type == kEndRunEventType ? "end " : "type ";
    const bool run_line = record.type == kBeginRunEventType || record.type == kEndRunEventType;
    append_number(text, run_line ? record.run : record.type);
    text += record.has_packet ? " packet\n" : "\n";
  }
  if (record.type == kBeginRunEventType) current_run = record.run;
  if (record.has_packet) append_units(text, record);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::string text_form_loss(const EventRecord& record, int current_run) {
  const bool run_line = record.type == kBeginRunEventType || record.type == kEndRunEventType;
  if (!run_line && record.run != current_run)
    return "run number " + std::to_string(record.run) + " differs from the current run " +
           std::to_string(current_run);
  for (const UnitWords& unit : record.units)
    for (const ChannelWords& channel : unit.channels)
      if (channel.words.empty())
        return "channel " + std::to_string(channel.ruchn) + " of unit " + std::to_string(unit.ruid) +
               " has no hit words and is not written";
  return {};
}

void write_text(std::ostream& out, const std::vector<EventRecord>& records) {
  int current_run = 0;
  for (const EventRecord& record : records) write_text_record(out, record, current_run);
}

}  // namespace kivo::eventio
