// Arrays of every kind the gateways refuse to read as doubles: each non-double
// class and sparse doubles (real and complex).
#ifndef TESTS_GATEWAYS_BAD_ARRAYS_H
#define TESTS_GATEWAYS_BAD_ARRAYS_H

#include <string>
#include <vector>

#include "standin_host.h"

struct BadKind {
  std::string name;
  StandinClass array_class;
  bool sparse;
  mxComplexity complexity;
};

inline std::vector<BadKind> bad_kinds() {
  std::vector<BadKind> kinds;
  for (StandinClass array_class :
       {StandinClass::single_class, StandinClass::int8_class,
        StandinClass::uint8_class, StandinClass::int16_class,
        StandinClass::uint16_class, StandinClass::int32_class,
        StandinClass::uint32_class, StandinClass::int64_class,
        StandinClass::uint64_class, StandinClass::logical_class,
        StandinClass::char_class, StandinClass::cell_class,
        StandinClass::struct_class}) {
    kinds.push_back(
        {standin_class_name(array_class), array_class, false, mxREAL});
  }
  kinds.push_back(
      {"complex single", StandinClass::single_class, false, mxCOMPLEX});
  kinds.push_back({"sparse", StandinClass::double_class, true, mxREAL});
  kinds.push_back(
      {"complex sparse", StandinClass::double_class, true, mxCOMPLEX});
  return kinds;
}

// An m x n array of the kind (sparse ones with room for one nonzero).
inline StandinArray make_bad(const BadKind &kind, size_t m, size_t n) {
  if (kind.sparse) {
    return StandinArray(standin_create_sparse(m, n, 1, kind.complexity));
  }
  return StandinArray(
      standin_create_array(kind.array_class, {m, n}, kind.complexity));
}

#endif  // TESTS_GATEWAYS_BAD_ARRAYS_H
