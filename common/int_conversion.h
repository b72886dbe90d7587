// Truncation of doubles to 32-bit signed integers, guarded.
//
// C++ leaves the conversion of NaN, +-Inf and values outside the int32 range
// undefined; every double-to-integer conversion in this library goes through
// here so that such values are detected before they are converted.
#ifndef COMMON_INT_CONVERSION_H
#define COMMON_INT_CONVERSION_H

#include <cstdint>

namespace spike_bins {

// True when value truncates toward zero to a representable int32:
// -2^31 - 1 < value < 2^31. False for NaN and +-Inf.
inline bool truncates_to_int32(double value) {
  return value > -2147483649.0 && value < 2147483648.0;
}

// value truncated toward zero; requires truncates_to_int32(value).
inline int32_t truncate_to_int32(double value) {
  return static_cast<int32_t>(value);
}

}  // namespace spike_bins

#endif  // COMMON_INT_CONVERSION_H
