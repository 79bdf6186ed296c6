// Sums of many doubles that need not wait on one long chain of additions.
#ifndef ROOTCOMPAT_WHOLESUM_H
#define ROOTCOMPAT_WHOLESUM_H

#include <cstddef>
#include <optional>

namespace rootcompat {

// The sum of values[0..n) when every value is a whole number and their
// magnitudes add up to less than 2^51, added several at a time: every
// partial sum, in whatever order, is then a whole number of smaller
// magnitude and so exact, equal to the sum taken in order. Otherwise nothing, and the caller
// adds them in order.
std::optional<double> WholeSum(const double* values, std::size_t n);

// The sum of values[0..n) taken in order: WholeSum's when it has one.
double SumInOrder(const double* values, std::size_t n);

// Whether `value`, of magnitude below 2^51, is a whole number: adding
// 1.5 * 2^52 gives a sum from 2^52 to 2^53, where doubles are the whole
// numbers, and taking it away again leaves the value as it was only then.
inline bool IsWhole(double value) { return (value + 0x1.8p52) - 0x1.8p52 == value; }

}  // namespace rootcompat

#endif
