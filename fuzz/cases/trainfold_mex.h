// Fuzz cases of the trainfold_mex gateway: the module built against the
// stand-in host, loaded with the stand-in loader and called through its
// mexFunction with arbitrary argument counts, classes, shapes and values.
// Every call must end in a host error (with the exact messages for a wrong
// argument count and for spike times in more than one column) or return
// exactly reference_spike_sum's bits; a call the reference can serve must
// succeed.
#ifndef FUZZ_CASES_TRAINFOLD_MEX_H
#define FUZZ_CASES_TRAINFOLD_MEX_H

#include <cstdint>
#include <vector>

#include "gateway_fuzz_support.h"
#include "reference_kernels.h"

inline const std::vector<ValueKind> kArgumentKinds = {
    ValueKind::spike_time, ValueKind::sample, ValueKind::window_end};

inline constexpr char kArgumentCountMessage[] =
    "needs 3 input args:  trainfold_mex(spinds, h_currents, twin)";
inline constexpr char kColumnMessage[] =
    "trainfold_mex: Spike Times Must Be Passed in As a COLUMN Vector!!";

// The outcome of a call with the right argument count, worked out from the
// arguments alone (expected starts as a refusal with any message); false
// when the result would be too large to be worth making.
inline bool expected_result(const FuzzCall &call, ExpectedOutcome *expected) {
  const FuzzArgument &spinds = call.arguments[0];
  const FuzzArgument &h_currents = call.arguments[1];
  const FuzzArgument &twin_argument = call.arguments[2];
  // Column count compared in full: 2^32 + 1 columns are not one column.
  if (spinds.columns > 1) {
    expected->message = kColumnMessage;
    return true;
  }
  if (!spinds.full_double || !h_currents.full_double ||
      !twin_argument.full_double || twin_argument.elements < 2 ||
      spinds.rows > INT32_MAX || h_currents.rows > INT32_MAX ||
      h_currents.columns > INT32_MAX) {
    return true;
  }
  const double *twin = real_doubles(twin_argument);
  const int64_t rows = expected_window_rows(twin);
  if (rows < 0 || rows > INT32_MAX) {
    return true;
  }
  const int32_t taps = static_cast<int32_t>(h_currents.rows);
  const int32_t filters = static_cast<int32_t>(h_currents.columns);
  const int64_t count = rows * filters;
  if (count > kMaxFuzzOutput) {
    return false;
  }
  expected->refused = false;
  expected->rows = static_cast<size_t>(rows);
  expected->columns = h_currents.columns;
  expected->values.assign(static_cast<size_t>(count), 0.0);
  // A column with rows but no column holds no spike times.
  reference_spike_sum(real_doubles(spinds),
                      static_cast<int32_t>(spinds.elements),
                      real_doubles(h_currents), taps, filters, twin[0], twin[1],
                      expected->values.data());
  return true;
}

#endif  // FUZZ_CASES_TRAINFOLD_MEX_H
