// Fuzz cases of the rate_exp gateway: the module built against the stand-in
// host, loaded with the stand-in loader and called through its mexFunction
// with arbitrary argument counts, classes, shapes and values. Every call must
// end in a host error (with the exact argument-count message when the count
// is wrong; a complex eta is refused) or return exactly reference_exp_all's
// bits for eta's data in eta's rows and columns.
#ifndef FUZZ_CASES_RATE_EXP_H
#define FUZZ_CASES_RATE_EXP_H

#include <cstdint>
#include <vector>

#include "gateway_fuzz_support.h"
#include "reference_kernels.h"

inline const std::vector<ValueKind> kArgumentKinds = {ValueKind::sample};

inline constexpr char kArgumentCountMessage[] =
    "rate_exp needs 1 input args: eta";

inline bool expected_result(const FuzzCall &call, ExpectedOutcome *expected) {
  const FuzzArgument &eta = call.arguments[0];
  if (!eta.full_double || mxIsComplex(eta.array) || eta.rows > INT32_MAX ||
      eta.columns > INT32_MAX) {
    return true;
  }
  const int64_t count = static_cast<int64_t>(eta.elements);
  if (count > kMaxFuzzOutput) {
    return false;
  }
  expected->refused = false;
  expected->rows = eta.rows;
  expected->columns = eta.columns;
  expected->values.assign(static_cast<size_t>(count), 0.0);
  if (count > 0) {
    reference_exp_all(real_doubles(eta), count, expected->values.data());
  }
  return true;
}

#endif  // FUZZ_CASES_RATE_EXP_H
