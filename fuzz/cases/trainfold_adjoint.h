// Fuzz cases of the trainfold_adjoint gateway: the module built against the
// stand-in host, loaded with the stand-in loader and called through its
// mexFunction with arbitrary argument counts, classes, shapes and values.
// Every call must end in a host error (with the exact argument-count and
// column messages where they apply) or return exactly
// reference_spike_sum_adjoint's bits for the real double data of its
// arguments; a call the reference can serve must succeed.
#ifndef FUZZ_CASES_TRAINFOLD_ADJOINT_H
#define FUZZ_CASES_TRAINFOLD_ADJOINT_H

#include <cstdint>
#include <vector>

#include "gateway_fuzz_support.h"
#include "reference_kernels.h"

inline const std::vector<ValueKind> kArgumentKinds = {
    ValueKind::spike_time, ValueKind::sample, ValueKind::window_end,
    ValueKind::bin_count};

inline constexpr char kArgumentCountMessage[] =
    "trainfold_adjoint needs 4 input args: spinds, r, twin, ntaps";
inline constexpr char kColumnMessage[] =
    "spinds must be a column vector of spike times (one column)";

// The outcome of a call with the right argument count, worked out from the
// arguments alone (expected starts as a refusal with any message); false
// when the result would be too large to be worth making.
inline bool expected_result(const FuzzCall &call, ExpectedOutcome *expected) {
  const FuzzArgument &spinds = call.arguments[0];
  const FuzzArgument &r = call.arguments[1];
  const FuzzArgument &twin_argument = call.arguments[2];
  const FuzzArgument &ntaps_argument = call.arguments[3];
  // Column count compared in full: 2^32 + 1 columns are not one column.
  if (spinds.columns > 1) {
    expected->message = kColumnMessage;
    return true;
  }
  if (!spinds.full_double || !r.full_double || !twin_argument.full_double ||
      !ntaps_argument.full_double || twin_argument.elements < 2 ||
      ntaps_argument.elements == 0 || spinds.rows > INT32_MAX ||
      r.rows > INT32_MAX || r.columns > INT32_MAX) {
    return true;
  }
  const double *twin = real_doubles(twin_argument);
  const int64_t rows = expected_window_rows(twin);
  int32_t taps = 0;
  if (rows < 0 || rows > INT32_MAX ||
      !reference_tap_count(real_doubles(ntaps_argument)[0], &taps) ||
      static_cast<int64_t>(r.rows) != rows) {
    return true;
  }
  const int32_t columns = static_cast<int32_t>(r.columns);
  const int64_t count = int64_t{taps} * columns;
  if (count > kMaxFuzzOutput) {
    return false;
  }
  expected->refused = false;
  expected->rows = static_cast<size_t>(taps);
  expected->columns = r.columns;
  expected->values.assign(static_cast<size_t>(count), 0.0);
  reference_spike_sum_adjoint(real_doubles(spinds),
                              static_cast<int32_t>(spinds.elements),
                              real_doubles(r), taps, columns, twin[0], twin[1],
                              expected->values.data());
  return true;
}

#endif  // FUZZ_CASES_TRAINFOLD_ADJOINT_H
