// Fuzz cases of the trainfold_multi gateway, as trainfold_pop's: every call
// must end in a host error (with the exact argument-count, column and id
// messages where they apply) or return exactly reference_multi_sum's bits
// for the real double data of its arguments (ids numbered from 1); a call
// the reference can serve must succeed.
#ifndef FUZZ_CASES_TRAINFOLD_MULTI_H
#define FUZZ_CASES_TRAINFOLD_MULTI_H

#include <cstdint>
#include <vector>

#include "gateway_fuzz_support.h"
#include "reference_kernels.h"

inline const std::vector<ValueKind> kArgumentKinds = {
    ValueKind::spike_time, ValueKind::source_id, ValueKind::sample,
    ValueKind::window_end, ValueKind::bin_count};

inline constexpr char kArgumentCountMessage[] =
    "trainfold_multi needs 5 input args: spinds, ids, h_currents, twin, "
    "nsources";
inline constexpr char kColumnMessage[] =
    "spinds must be a column vector of spike times (one column)";
inline constexpr char kBadIdMessage[] =
    "ids must be whole numbers from 1 to nsources (not NaN or Inf)";

// The outcome of a call with the right argument count, worked out from the
// arguments alone (expected starts as a refusal with any message); false
// when the result would be too large to be worth making.
inline bool expected_result(const FuzzCall &call, ExpectedOutcome *expected) {
  const FuzzArgument &spinds = call.arguments[0];
  const FuzzArgument &ids = call.arguments[1];
  const FuzzArgument &h = call.arguments[2];
  const FuzzArgument &twin_argument = call.arguments[3];
  const FuzzArgument &nsources_argument = call.arguments[4];
  if (spinds.columns > 1) {
    expected->message = kColumnMessage;
    return true;
  }
  if (ids.columns > 1 || !spinds.full_double || !ids.full_double ||
      !h.full_double || !twin_argument.full_double ||
      !nsources_argument.full_double || twin_argument.elements < 2 ||
      nsources_argument.elements == 0 || spinds.rows > INT32_MAX ||
      ids.rows > INT32_MAX || h.rows > INT32_MAX || h.columns > INT32_MAX ||
      ids.elements != spinds.elements) {
    return true;
  }
  const double *twin = real_doubles(twin_argument);
  const int64_t bins = expected_window_rows(twin);
  int32_t sources = 0;
  if (bins < 0 || bins > INT32_MAX ||
      !reference_source_count(real_doubles(nsources_argument)[0], &sources) ||
      h.columns % static_cast<size_t>(sources) != 0) {
    return true;
  }
  const int32_t b = static_cast<int32_t>(spinds.elements);
  if (!reference_source_ids(real_doubles(ids), b, sources, 1)) {
    expected->message = kBadIdMessage;
    return true;
  }
  const int32_t targets = static_cast<int32_t>(h.rows);
  const int32_t taps = static_cast<int32_t>(h.columns) / sources;
  const int64_t count = int64_t{targets} * bins;
  if (count > kMaxFuzzOutput) {
    return false;
  }
  expected->refused = false;
  expected->rows = static_cast<size_t>(targets);
  expected->columns = static_cast<size_t>(bins);
  expected->values.assign(static_cast<size_t>(count), 0.0);
  reference_multi_sum(real_doubles(spinds), real_doubles(ids), b,
                      real_doubles(h), targets, taps, sources, 1, twin[0],
                      twin[1], expected->values.data());
  return true;
}

#endif  // FUZZ_CASES_TRAINFOLD_MULTI_H
