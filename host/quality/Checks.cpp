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
      : bins_(bins), last_(last), centre_of_first_(centre_of_first) {
    if (whole && centre_of_first == std::floor(centre_of_first)) take_running_totals();
  }

  // The entries of the window of `half` bins either side of each centre
  // 1..last (cut at 1 and last), at its index.
  std::vector<double> entries_by_centre(int half) const {
    std::vector<double> sums(static_cast<std::size_t>(last_ + 1), 0.0);
    const auto first_of = [half](int centre) { return std::max(1, centre - half); };
    const auto last_of = [this, half](int centre) { return std::min(last_, centre + half); };
    if (w_.empty()) {
      for (int b = 1; b <= last_; ++b) sums[static_cast<std::size_t>(b)] = window_entries(bins_, first_of(b), last_of(b));
      return sums;
    }
    const auto from_totals = [&](int b, std::int64_t to, std::int64_t before) {
      const std::int64_t sum = to - before;
      sums[static_cast<std::size_t>(b)] = sum <= 0 ? 0 : static_cast<double>(sum);
    };
    // The centres whose window is cut at the start, those whose window is
    // whole, read without cutting, and those whose window is cut at the end.
    const auto cut = [&](int b) {
      from_totals(b, w_[static_cast<std::size_t>(last_of(b))], w_[static_cast<std::size_t>(first_of(b) - 1)]);
    };
    const std::int64_t* w = w_.data();
    for (int b = 1; b <= std::min(last_, half); ++b) cut(b);
    for (int b = half + 1; b <= last_ - half; ++b) from_totals(b, w[b + half], w[b - half - 1]);
    for (int b = std::max(half + 1, last_ - half + 1); b <= last_; ++b) cut(b);
    return sums;
  }

  Moments moments(int first, int last) const {
    if (w_.empty()) return kivo::quality::moments(bins_, first, last, centre_of_first_);
    const auto sum = [first, last](const std::vector<std::int64_t>& running) {
      return static_cast<double>(running[static_cast<std::size_t>(last)] - running[static_cast<std::size_t>(first - 1)]);
    };
    return moments_of_sums(sum(w_), sum(wx_), sum(wx2_));
  }

 private:
  // Added up unsigned, so that totals too large to be used wrap harmlessly
  // before they are found to be so.
  void take_running_totals() {
    const std::int64_t offset = static_cast<std::int64_t>(centre_of_first_);
    const std::size_t size = static_cast<std::size_t>(last_ + 1);
    w_.assign(size, 0), wx_.assign(size, 0), wx2_.assign(size, 0);
    std::uint64_t w_total = 0, wx_total = 0, wx2_total = 0, magnitude = 0;
    for (std::size_t b = 1; b < size; ++b) {
      const std::int64_t w = static_cast<std::int64_t>(bins_[b]), x = static_cast<std::int64_t>(b) + offset;
      magnitude += static_cast<std::uint64_t>(w < 0 ? -w : w);
      w_[b] = static_cast<std::int64_t>(w_total += static_cast<std::uint64_t>(w));
      wx_[b] = static_cast<std::int64_t>(wx_total += static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(x));
      wx2_[b] = static_cast<std::int64_t>(wx2_total += static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(x * x));
    }
    const double farthest = static_cast<double>(std::max({std::int64_t{1}, std::abs(1 + offset), std::abs(last_ + offset)}));
    if (!(static_cast<double>(magnitude) * farthest * farthest < 0x1p53)) w_.clear(), wx_.clear(), wx2_.clear();
  }

  const Bins& bins_;
  int last_;
  double centre_of_first_;
  std::vector<std::int64_t> w_, wx_, wx2_;  // of bins 1..b at index b; empty when not exact
};

// The first of bins 1..n-1 with the most in it: the most is found with four
// maxima side by side, so that no step waits on the one before, then the
// first bin that holds it.
int first_with_most(const std::vector<double>& sums) {
  double most[4] = {sums[1], sums[1], sums[1], sums[1]};
  std::size_t b = 1;
  for (; b + 4 <= sums.size(); b += 4)
    for (std::size_t i = 0; i < 4; ++i) most[i] = std::max(most[i], sums[b + i]);
  for (; b < sums.size(); ++b) most[0] = std::max(most[0], sums[b]);
  const double largest = std::max(std::max(most[0], most[1]), std::max(most[2], most[3]));
  const auto first = std::find(sums.begin() + 1, sums.end(), largest);
  return first == sums.end() ? 1 : static_cast<int>(first - sums.begin());  // none when NaN was the largest
}

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
  const auto window = [&](int centre) {
    return sums_of.moments(std::max(1, centre - half), std::min(last, centre + half));
  };
  const std::vector<double> sums = sums_of.entries_by_centre(half);
  const Moments top = window(first_with_most(sums));
  Peak peak{top.mean, top.mean, top.mean, top.entries / entries};
  // Every window holding as many entries within two standard deviations of
  // the count could be the peak's as well; their means, each give or take
  // twice its own standard error, span where the peak may lie.
  const double tolerance = 2 * std::sqrt(top.entries);
  for (int b = 1; b <= last; ++b) {
    if (sums[static_cast<std::size_t>(b)] < top.entries - tolerance) continue;
    const Moments candidate = window(b);
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
