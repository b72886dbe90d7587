// Fuzz cases of the tentfill2_adjoint gateway: the module built against the
// stand-in host, loaded with the stand-in loader and called through its
// mexFunction with arbitrary argument counts, classes, shapes and values.
// Every call must end in a host error (with the exact argument-count message
// when the count is wrong) or return exactly reference_upsample_adjoint's
// bits for the real double data of r; a call the reference can serve must
// succeed.
#ifndef FUZZ_CASES_TENTFILL2_ADJOINT_H
#define FUZZ_CASES_TENTFILL2_ADJOINT_H

#include <cstdint>
#include <vector>

#include "gateway_fuzz_support.h"
#include "reference_kernels.h"

inline const std::vector<ValueKind> kArgumentKinds = {ValueKind::sample,
                                                      ValueKind::bin_count};

inline constexpr char kArgumentCountMessage[] =
    "tentfill2_adjoint needs 2 input args: r, nbns";

// The outcome of a call with the right argument count, worked out from the
// arguments alone (expected starts as a refusal with any message); false
// when the result would be too large to be worth making.
inline bool expected_result(const FuzzCall &call, ExpectedOutcome *expected) {
  const FuzzArgument &r = call.arguments[0];
  const FuzzArgument &nbns_argument = call.arguments[1];
  if (!r.full_double || !nbns_argument.full_double ||
      nbns_argument.elements == 0 || r.rows > INT32_MAX ||
      r.columns > INT32_MAX) {
    return true;
  }
  const double nbns = real_doubles(nbns_argument)[0];
  int32_t bins = 0;
  if (!reference_adjoint_bins_per_sample(nbns, &bins) || r.rows % bins != 0) {
    return true;
  }
  const int32_t rows = static_cast<int32_t>(r.rows);
  const int32_t columns = static_cast<int32_t>(r.columns);
  const int64_t output_rows = rows / bins;
  const int64_t count = output_rows * columns;
  if (count > kMaxFuzzOutput) {
    return false;
  }
  expected->refused = false;
  expected->rows = static_cast<size_t>(output_rows);
  expected->columns = r.columns;
  expected->values.assign(static_cast<size_t>(count), 0.0);
  reference_upsample_adjoint(real_doubles(r), rows, columns, nbns,
                             expected->values.data());
  return true;
}

#endif  // FUZZ_CASES_TENTFILL2_ADJOINT_H
