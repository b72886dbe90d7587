// Decoding of fuzz bytes into the values the kernels and gateways see.
//
// The input is read front to back (every read is its own statement, so the
// order does not depend on the compiler); once it runs out every read gives 0,
// so any byte string decodes to some case and short inputs stay meaningful.
// Each value starts with a tag byte whose low four bits pick a kind (special
// values, small integers and fractions, values next to a decision boundary,
// raw bits); the kinds are spread so that the interesting values are a single
// byte away and any double at all is reachable through the raw-bits kinds.
// make_seeds.py writes inputs in the same format: keep the two in step.
#ifndef FUZZ_FUZZ_DECODE_H
#define FUZZ_FUZZ_DECODE_H

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "tests/support/bits.h"

struct FuzzBytes {
  const uint8_t *data;
  size_t size;
  size_t position;
};

inline uint8_t take_byte(FuzzBytes *in) {
  return in->position < in->size ? in->data[in->position++] : 0;
}

// Little-endian, missing bytes read as 0.
inline uint64_t take_u64(FuzzBytes *in) {
  uint64_t value = 0;
  for (int i = 0; i < 8; ++i) {
    value |= static_cast<uint64_t>(take_byte(in)) << (8 * i);
  }
  return value;
}

inline uint32_t take_u32(FuzzBytes *in) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) {
    value |= static_cast<uint32_t>(take_byte(in)) << (8 * i);
  }
  return value;
}

inline double take_raw_double(FuzzBytes *in) { return from_bits(take_u64(in)); }

inline int8_t take_i8(FuzzBytes *in) {
  return static_cast<int8_t>(take_byte(in));
}

// A count: byte % (limit + 1), or with the top bit set (byte & 0x7f) % (big
// + 1), so small counts are common and up to big is reachable.
inline int32_t take_count(FuzzBytes *in, int32_t limit, int32_t big) {
  const uint8_t byte = take_byte(in);
  if (byte & 0x80) {
    return (byte & 0x7f) % (big + 1);
  }
  return byte % (limit + 1);
}

constexpr double kFuzzInf = std::numeric_limits<double>::infinity();
constexpr double kFuzzNaN = std::numeric_limits<double>::quiet_NaN();

// Large magnitudes, including the edges of the 32-bit integer range.
inline double pick_large(uint8_t byte) {
  static constexpr double kLarge[] = {2147483647.0,
                                      2147483647.5,
                                      2147483647.9999998,
                                      2147483648.0,
                                      2147483649.0,
                                      4294967296.0,
                                      4294967297.0,
                                      9007199254740992.0,
                                      9223372036854775808.0,
                                      1e300,
                                      1.7976931348623157e308,
                                      -2147483648.0,
                                      -2147483648.5,
                                      -2147483648.9999995,
                                      -2147483649.0,
                                      -4294967296.0,
                                      -9223372036854775808.0,
                                      -1e300,
                                      -1.7976931348623157e308,
                                      65535.0,
                                      65536.0,
                                      32768.0,
                                      46340.0,
                                      46341.0,
                                      1073741824.0,
                                      1073741824.5};
  return kLarge[byte % (sizeof kLarge / sizeof kLarge[0])];
}

// A sample or filter tap: any double, specials and awkward values often.
inline double take_value(FuzzBytes *in) {
  const uint8_t tag = take_byte(in);
  const bool negative = (tag & 0x10) != 0;
  const double sign = negative ? -1.0 : 1.0;
  switch (tag & 0x0f) {
    case 0:
      return sign * 0.0;
    case 1:
      return take_i8(in);
    case 2:
      return sign * kFuzzInf;
    case 3: {  // NaN with any sign and payload
      const uint64_t payload = take_u64(in) & 0x800fffffffffffffULL;
      return from_bits(payload | 0x7ff0000000000001ULL);
    }
    case 4:
      return kFuzzNaN;
    case 5: {  // subnormal (or zero)
      const uint64_t mantissa = take_u64(in) & 0x000fffffffffffffULL;
      return sign * from_bits(mantissa);
    }
    case 6:
      return take_i8(in) / 16.0;
    case 7:
      return take_i8(in) * 0.1;
    case 8:
      return sign * pick_large(take_byte(in));
    case 9:
      return sign * std::numeric_limits<double>::min();
    case 10:
      return sign * std::numeric_limits<double>::max();
    case 11:
      return sign / 3.0;
    default:  // 12 .. 15
      return take_raw_double(in);
  }
}

// nbns: small bin counts (whole and fractional) most of the time, values
// around -1, 0 and 1, NaN, +-Inf, and the large values that can overflow the
// output row count.
inline double take_bin_count(FuzzBytes *in) {
  const uint8_t tag = take_byte(in);
  switch (tag & 0x0f) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 4:
      return take_byte(in) % 40;
    case 5:
    case 6: {
      const int whole = take_byte(in) % 40;
      return whole + take_byte(in) / 256.0;
    }
    case 7: {
      static constexpr double kSmall[] = {-0.0,
                                          0.5,
                                          -0.5,
                                          0.9999999999999999,
                                          -0.9999999999999999,
                                          -1.0,
                                          -1.0000000000000002,
                                          -7.5,
                                          1.0000000000000002,
                                          2.5,
                                          3.999,
                                          49.0};
      return kSmall[take_byte(in) % (sizeof kSmall / sizeof kSmall[0])];
    }
    case 8:
      return (tag & 0x10) ? -kFuzzInf : ((tag & 0x20) ? kFuzzNaN : kFuzzInf);
    case 9:
    case 10:
      return pick_large(take_byte(in));
    case 11:
      return static_cast<double>(take_u32(in) & 0xffff);
    default:  // 12 .. 15
      return take_raw_double(in);
  }
}

// One end of a spike window (twin). The second end is often decoded relative
// to the first (pass the first as base), so that windows are short and
// sometimes empty or reversed.
inline double take_window_end(FuzzBytes *in, double base, bool relative) {
  const uint8_t tag = take_byte(in);
  const double origin = relative && std::isfinite(base) ? base : 0.0;
  switch (tag & 0x0f) {
    case 0:
    case 1:
    case 2:
    case 3:
      return origin + take_i8(in) / 4;  // whole offsets -32 .. 31
    case 4:
    case 5: {
      const int whole = take_i8(in) / 4;
      return origin + whole + take_byte(in) / 256.0;
    }
    case 6:
      return origin - take_byte(in) / 256.0;
    case 7:
      return static_cast<double>(static_cast<int32_t>(take_u32(in)));
    case 8:
    case 9:
      return pick_large(take_byte(in));
    case 10:
      return (tag & 0x10) ? kFuzzNaN : ((tag & 0x20) ? -kFuzzInf : kFuzzInf);
    case 11:
      return (tag & 0x10) ? -0.0 : -0.5;
    default:  // 12 .. 15
      return take_raw_double(in);
  }
}

// A spike time near the window of bins first .. last with c taps: on and
// next to the thresholds L = first - c + 1 and U = last + 1, inside, before
// and after the window, negative, special, huge or any bits.
inline double take_spike_time(FuzzBytes *in, int32_t first, int32_t last,
                              int32_t taps) {
  const uint8_t tag = take_byte(in);
  const double lower = static_cast<double>(int64_t{first} - taps + 1);
  const double upper = static_cast<double>(int64_t{last} + 1);
  switch (tag & 0x0f) {
    case 0:
    case 1:
    case 2:
      return first + take_i8(in) / 4.0;
    case 3: {
      const double whole = static_cast<double>(first) + take_i8(in);
      return whole + take_byte(in) / 256.0;
    }
    case 4: {
      const double edges[] = {lower,
                              upper,
                              static_cast<double>(first),
                              static_cast<double>(last),
                              last + 0.5,
                              0.0};
      const double edge = edges[take_byte(in) % 6];
      const int direction = tag >> 4;  // 0 .. 15
      if (direction < 5) return std::nextafter(edge, -kFuzzInf);
      if (direction < 10) return std::nextafter(edge, kFuzzInf);
      return edge;
    }
    case 5:
      return take_i8(in) / 8.0;  // around zero, negative too
    case 6:
      return (tag & 0x10) ? kFuzzNaN : ((tag & 0x20) ? -kFuzzInf : kFuzzInf);
    case 7:
      return (tag & 0x10) ? -0.0 : 0.0;
    case 8:
      return pick_large(take_byte(in));
    case 9:
      return static_cast<double>(static_cast<int32_t>(take_u32(in)));
    default:  // 10 .. 15
      return take_raw_double(in);
  }
}

#endif  // FUZZ_FUZZ_DECODE_H
