// What the checks share: formatting, limits, difference distributions and
// their peaks, and the order in which the checks run.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "Checks.h"
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

Bins difference(const Bins& a, const Bins& b) {
  Bins result(a);
  for (std::size_t i = 0; i < result.size() && i < b.size(); ++i) result[i] -= b[i];
  return result;
}

namespace {

// Entries, mean and RMS of bins first..last of a difference distribution
// whose bin b is centred on b + centre_of_first.
struct Moments {
  double entries = 0, mean = 0, rms = 0;
};

Moments moments_of_sums(double sum, double sum_x, double sum_x2) {
  if (sum <= 0) return {};
  const double mean = sum_x / sum;
  return {sum, mean, std::sqrt(std::max(sum_x2 / sum - mean * mean, 0.0))};
}

Moments moments(const Bins& bins, int first, int last, double centre_of_first) {
  double sum = 0, sum_x = 0, sum_x2 = 0;
  for (int b = first; b <= last; ++b) {
    const double w = bins[static_cast<std::size_t>(b)], x = b + centre_of_first;
    sum += w;
    sum_x += w * x;
    sum_x2 += w * x * x;
  }
  return moments_of_sums(sum, sum_x, sum_x2);
}

// The entries of moments(bins, first, last, ...), without the other sums.
double window_entries(const Bins& bins, int first, int last) {
  double sum = 0;
  for (int b = first; b <= last; ++b) sum += bins[static_cast<std::size_t>(b)];
  return sum <= 0 ? 0 : sum;
}

// The sums over windows of bins 1..last of a difference distribution whose
// bin b is centred on b + centre_of_first. When the bins hold whole numbers
// (`whole`: their magnitudes add up to less than 2^51 too), the centres are
// whole numbers and the magnitudes of all terms w * x * x add up to less
// than 2^53, every term and every sum of terms is a whole number that a
// double holds exactly. A window's sums are then the same whether its bins
// are added in order or two running totals kept in 64-bit integers are
// subtracted, and are taken from those totals; otherwise they are added in
// order.
class WindowSums {
 public:
  WindowSums(const Bins& bins, int last, double centre_of_first, bool whole)
      : bins_(bins), centre_of_first_(centre_of_first) {
    if (whole && centre_of_first == std::floor(centre_of_first)) take_running_totals(last);
  }

  double entries(int first, int last) const {
    if (running_.empty()) return window_entries(bins_, first, last);
    const double sum = static_cast<double>(difference(first, last).w);
    return sum <= 0 ? 0 : sum;
  }

  Moments moments(int first, int last) const {
    if (running_.empty()) return kivo::quality::moments(bins_, first, last, centre_of_first_);
    const Sums sums = difference(first, last);
    return moments_of_sums(static_cast<double>(sums.w), static_cast<double>(sums.wx), static_cast<double>(sums.wx2));
  }

 private:
  // Kept unsigned, so that totals too large to be used wrap harmlessly
  // before they are found to be so.
  struct Totals {
    std::uint64_t w = 0, wx = 0, wx2 = 0;
  };
  struct Sums {
    std::int64_t w, wx, wx2;
  };

  void take_running_totals(int last) {
    const std::int64_t offset = static_cast<std::int64_t>(centre_of_first_);
    running_.resize(static_cast<std::size_t>(last + 1));
    Totals total;
    std::uint64_t magnitude = 0;
    for (int b = 1; b <= last; ++b) {
      const std::int64_t w = static_cast<std::int64_t>(bins_[static_cast<std::size_t>(b)]), x = b + offset;
      magnitude += static_cast<std::uint64_t>(w < 0 ? -w : w);
      total.w += static_cast<std::uint64_t>(w);
      total.wx += static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(x);
      total.wx2 += static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(x * x);
      running_[static_cast<std::size_t>(b)] = total;
    }
    const double farthest = static_cast<double>(std::max({std::int64_t{1}, std::abs(1 + offset), std::abs(last + offset)}));
    if (!(static_cast<double>(magnitude) * farthest * farthest < 0x1p53)) running_.clear();
  }

  Sums difference(int first, int last) const {
    const Totals& to = running_[static_cast<std::size_t>(last)];
    const Totals& before = running_[static_cast<std::size_t>(first - 1)];
    return {static_cast<std::int64_t>(to.w - before.w), static_cast<std::int64_t>(to.wx - before.wx),
            static_cast<std::int64_t>(to.wx2 - before.wx2)};
  }

  const Bins& bins_;
  double centre_of_first_;
  std::vector<Totals> running_;  // of bins 1..b at index b; empty when not exact
};

}  // namespace

std::optional<Peak> find_peak(const Bins& bins, double near) {
  if (bins.size() < 3) return std::nullopt;
  const std::optional<double> whole = rootcompat::WholeSum(bins.data(), bins.size());
  const double entries = whole ? *whole : total(bins);
  if (!(entries > 0)) return std::nullopt;
  const int last = static_cast<int>(bins.size()) - 2;
  const int half = static_cast<int>(near);
  // Bin b is centred on b - (last + 1) / 2: bin 1 on -511, bin 1023 on +511.
  const double centre_of_first = -(last - 1) / 2.0 - 1;
  const WindowSums sums_of(bins, last, centre_of_first, whole.has_value());
  const auto first_of = [&](int centre) { return std::max(1, centre - half); };
  const auto last_of = [&](int centre) { return std::min(last, centre + half); };
  std::vector<double> sums(static_cast<std::size_t>(last + 1), 0.0);
  for (int b = 1; b <= last; ++b) sums[static_cast<std::size_t>(b)] = sums_of.entries(first_of(b), last_of(b));
  const int best = static_cast<int>(std::max_element(sums.begin() + 1, sums.end()) - sums.begin());
  const Moments top = sums_of.moments(first_of(best), last_of(best));
  Peak peak{top.mean, top.mean, top.mean, top.entries / entries};
  // Every window holding as many entries within two standard deviations of
  // the count could be the peak's as well; their means, each give or take
  // twice its own standard error, span where the peak may lie.
  const double tolerance = 2 * std::sqrt(top.entries);
  for (int b = 1; b <= last; ++b) {
    if (sums[static_cast<std::size_t>(b)] < top.entries - tolerance) continue;
    const Moments candidate = sums_of.moments(first_of(b), last_of(b));
    const double error = 2 * candidate.rms / std::sqrt(candidate.entries);
    peak.low = std::min(peak.low, candidate.mean - error);
    peak.high = std::max(peak.high, candidate.mean + error);
  }
  return peak;
}

std::vector<Result> judge_all(const Context& context) {
  const Config& config = context.config;
  std::vector<Result> results;
  const auto add = [&results](bool enabled, std::vector<Result> (*judge)(const Context&), const Context& c) {
    if (!enabled) return;
    std::vector<Result> more = judge(c);
    results.insert(results.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
  };
  add(config.dead_chip.enabled, judge_dead_chips, context);
  add(config.hot_pixels.enabled, judge_hot_pixels, context);
  add(config.hit_rate.enabled, judge_hit_rates, context);
  add(config.beam_position.enabled, judge_beam_positions, context);
  add(config.alignment.enabled, judge_alignment, context);
  add(config.missing_packet.enabled, judge_missing_packets, context);
  add(config.reference.enabled, judge_reference, context);
  return results;
}

}  // namespace kivo::quality
