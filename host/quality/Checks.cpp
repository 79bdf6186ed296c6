// What the checks share: formatting, limits, difference distributions (their
// peaks are in PeakSearch.cpp), and the order in which the checks run.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <limits>

#include "Checks.h"
#include "ReadoutUnits.h"
#include "WholeSum.h"

namespace kivo::quality {

namespace {

// printf's own formatting of `pattern`; most texts fit the buffer on the stack.
std::string printed(const char* pattern, va_list arguments) {
  char buffer[256];
  va_list again;
  va_copy(again, arguments);
  const int length = std::vsnprintf(buffer, sizeof buffer, pattern, arguments);
  std::string text;
  if (length > 0 && static_cast<std::size_t>(length) < sizeof buffer) {
    text.assign(buffer, static_cast<std::size_t>(length));
  } else if (length > 0) {
    text.resize(static_cast<std::size_t>(length));
    std::vsnprintf(text.data(), text.size() + 1, pattern, again);
  }
  va_end(again);
  return text;
}

// One conversion of a pattern: flags '+' and '0', a width, a precision, a
// length ('l' or 'z') and the conversion letter.
struct Conversion {
  bool plus = false, zeros = false;
  int width = 0, precision = -1;
  char length = 0, letter = 0;
};

int digits_at(const char*& p) {
  int value = 0;
  while (*p >= '0' && *p <= '9' && value < 1000) value = value * 10 + (*p++ - '0');
  return value;
}

// Reads the conversion after a '%' at `p`; false for one that written()
// does not write as printf would.
bool read_conversion(const char*& p, Conversion& conversion) {
  for (;; ++p) {
    if (*p == '+') conversion.plus = true;
    else if (*p == '0') conversion.zeros = true;
    else break;
  }
  conversion.width = digits_at(p);
  if (*p == '.') conversion.precision = digits_at(++p);
  if (*p == 'l' || *p == 'z') conversion.length = *p++;
  conversion.letter = *p++;
  switch (conversion.letter) {
    case 'd':
      return conversion.length != 'z' && conversion.precision < 0;
    case 'u':
      return conversion.length == 'z' && conversion.precision < 0;
    case 'f':
    case 'g':
      return conversion.length == 0 && conversion.width == 0 && !conversion.zeros;
    case 's':
      return conversion.length == 0 && conversion.width == 0 && conversion.precision < 0 && !conversion.plus &&
             !conversion.zeros;
    default:
      return false;
  }
}

// Writes `digits` (a number, signed or not) into `text` padded to the width,
// with zeros after the sign when asked for, otherwise spaces before it.
void append_padded(std::string& text, const char* digits, std::size_t length, const Conversion& conversion) {
  const std::size_t width = static_cast<std::size_t>(conversion.width);
  if (length >= width) {
    text.append(digits, length);
    return;
  }
  if (!conversion.zeros) {
    text.append(width - length, ' ').append(digits, length);
    return;
  }
  const std::size_t sign = digits[0] == '-' || digits[0] == '+';
  text.append(digits, sign).append(width - length, '0').append(digits + sign, length - sign);
}

template <class Integer>
void append_integer(std::string& text, Integer value, const Conversion& conversion) {
  char buffer[32];
  char* start = buffer + 1;
  const std::to_chars_result written = std::to_chars(start, buffer + sizeof buffer, value);
  if (conversion.plus && *start != '-') *--start = '+';
  append_padded(text, start, static_cast<std::size_t>(written.ptr - start), conversion);
}

// A double as printf's %f or %g writes it: std::to_chars with a precision
// writes what printf writes, in the C locale. False when it does not fit.
bool append_double(std::string& text, double value, const Conversion& conversion) {
  char buffer[400];
  char* start = buffer + 1;
  const bool fixed = conversion.letter == 'f';
  const int precision = conversion.precision < 0 ? 6 : !fixed && conversion.precision == 0 ? 1 : conversion.precision;
  const std::to_chars_result written =
      std::to_chars(start, buffer + sizeof buffer, value,
                    fixed ? std::chars_format::fixed : std::chars_format::general, precision);
  if (written.ec != std::errc()) return false;
  if (conversion.plus && *start != '-') *--start = '+';
  text.append(start, written.ptr);
  return true;
}

// `pattern` written as printf would, for the conversions read_conversion
// accepts; false, with `text` unfinished, at any other.
bool written(const char* pattern, va_list arguments, std::string& text) {
  for (const char* p = pattern; *p;) {
    const char* plain = p;
    while (*p && *p != '%') ++p;
    text.append(plain, p);
    if (!*p) break;
    if (*++p == '%') {
      text += '%';
      ++p;
      continue;
    }
    Conversion conversion;
    if (!read_conversion(p, conversion)) return false;
    switch (conversion.letter) {
      case 'd':
        if (conversion.length == 'l')
          append_integer(text, va_arg(arguments, long), conversion);
        else
          append_integer(text, va_arg(arguments, int), conversion);
        break;
      case 'u':
        append_integer(text, va_arg(arguments, std::size_t), conversion);
        break;
      case 's': {
        const char* string = va_arg(arguments, const char*);
        if (!string) return false;
        text += string;
        break;
      }
      default:
        if (!append_double(text, va_arg(arguments, double), conversion)) return false;
    }
  }
  return true;
}

}  // namespace

// Reasons are formatted at every refresh: the conversions they use are
// written with std::to_chars, several times quicker than printf; any other
// pattern is left to printf.
std::string format(const char* pattern, ...) {
  va_list arguments, again;
  va_start(arguments, pattern);
  va_copy(again, arguments);
  std::string text;
  text.reserve(128);
  if (!written(pattern, arguments, text)) text = printed(pattern, again);
  va_end(again);
  va_end(arguments);
  return text;
}

std::string whole(double value) {
  // A whole number of magnitude below 2^51 (but negative zero) is written as
  // the integer it is, which is what printf writes and far quicker; fixed
  // notation with a precision is printf's own for any other value.
  char buffer[400];
  const bool integer = std::abs(value) < 0x1p51 && rootcompat::IsWhole(value) && !(value == 0 && std::signbit(value));
  const std::to_chars_result written =
      integer ? std::to_chars(buffer, buffer + sizeof buffer, static_cast<long long>(value))
              : std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 0);
  return std::string(buffer, written.ptr);
}

Verdict judge_limit(double value, double medium, double bad, bool lower_is_worse) {
  if (lower_is_worse) return value < bad ? Verdict::Bad : value < medium ? Verdict::Medium : Verdict::Good;
  return value > bad ? Verdict::Bad : value > medium ? Verdict::Medium : Verdict::Good;
}

Verdict judge_limit_held(double value, double medium, double bad, bool lower_is_worse, Verdict before) {
  const double back = lower_is_worse ? 1 + kLimitMargin : 1 - kLimitMargin;
  if (before >= Verdict::Bad) bad *= back;
  if (before >= Verdict::Medium) medium *= back;
  return judge_limit(value, medium, bad, lower_is_worse);
}

Verdict LimitHolds::last(const std::string& check, int stave, int chip, long place) const {
  const auto found = verdicts_.find({check, stave, chip, place});
  return found == verdicts_.end() ? Verdict::Good : found->second;
}

void LimitHolds::keep(const std::string& check, int stave, int chip, long place, Verdict verdict) {
  if (verdict <= Verdict::Good)
    verdicts_.erase({check, stave, chip, place});
  else
    verdicts_[{check, stave, chip, place}] = verdict;
}

void LimitHolds::forget(const std::string& check, int stave) {
  const auto first = verdicts_.lower_bound({check, stave, std::numeric_limits<int>::min(), 0});
  const auto last = verdicts_.lower_bound({check, stave + 1, std::numeric_limits<int>::min(), 0});
  verdicts_.erase(first, last);
}

Bins difference(const Bins& a, const Bins& b) {
  Bins result(a);
  for (std::size_t i = 0; i < result.size() && i < b.size(); ++i) result[i] -= b[i];
  return result;
}

std::vector<Result> judge_all(const Context& context) {
  const Config& config = context.config;
  std::vector<Result> results;
  const auto add = [&results](bool enabled, std::vector<Result> (*judge)(const Context&), const Context& c) {
    if (!enabled) return;
    std::vector<Result> more = judge(c);
    results.insert(results.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
  };
  add(config.occupancy.enabled, judge_occupancy, context);
  add(config.hot_pixels.enabled, judge_hot_pixels, context);
  add(config.busy_events.enabled, judge_busy_events, context);
  add(config.hit_rate.enabled, judge_hit_rates, context);
  add(config.beam_position.enabled, judge_beam_positions, context);
  add(config.alignment.enabled, judge_alignment, context);
  add(config.synchronisation.enabled, judge_synchronisation, context);
  add(config.missing_packet.enabled, judge_missing_packets, context);
  add(config.reference.enabled, judge_reference, context);
  add(config.efficiency.enabled, judge_efficiency, context);
  add(config.residuals.enabled, judge_residuals, context);
  add(config.track_synchronisation.enabled, judge_track_synchronisation, context);
  name_lost_units(context, results);
  return results;
}

}  // namespace kivo::quality
