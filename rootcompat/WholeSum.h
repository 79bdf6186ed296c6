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

}  // namespace rootcompat

#endif
