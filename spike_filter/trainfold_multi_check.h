// The argument check of trainfold_multi(spinds, ids, h_currents, twin,
// nsources), shared by the MATLAB/Octave gateway and the Python binding (see
// common/arg_check.h). Two steps, as trainfold_pop's: trainfold_multi_check
// on what the host knows without reading data, then trainfold_multi_check_ids
// once the ids' data is read.
#ifndef SPIKE_FILTER_TRAINFOLD_MULTI_CHECK_H
#define SPIKE_FILTER_TRAINFOLD_MULTI_CHECK_H

#include <cstdint>

#include "common/arg_check.h"
#include "spike_filter/spike_filter_multi.h"

namespace spike_bins {

struct TrainfoldMultiCall {
  Refusal refusal;      // kind none: go ahead with the sizes below
  int32_t spike_count;  // elements of spinds (and of ids)
  int32_t targets;      // K, rows of h_currents and of the result
  MultiSources multi;   // N, c and h_currents' columns c * N
  SpikeWindow window;   // T0, T1 and the result's columns
};

// Refusals in this order: argument count (arg_count != 5), spinds with more
// than one column, ids with more than one column (both looked at before their
// class), spinds, ids, h_currents, twin or nsources not numeric, twin with
// fewer than two values, nsources empty, h_currents with extra dims, spinds,
// ids or h_currents beyond 2^31 - 1 rows or columns, ids not as many as
// spinds, a twin value NaN, Inf or outside int32, T1 < T0 - 1, a window
// beyond 2^31 - 1 bins, nsources not a whole number from 1 to 2^31 - 1,
// h_currents' columns not a multiple of nsources. twin_first_two and
// nsources_first are read only once their argument is known to be numeric
// with enough values (the host may pass null or 0 else).
TrainfoldMultiCall trainfold_multi_check(
    int arg_count, const ArgInfo &spinds, const ArgInfo &ids,
    const ArgInfo &h_currents, const ArgInfo &twin, const ArgInfo &nsources,
    const double *twin_first_two, double nsources_first);

// The last refusals, for a call trainfold_multi_check passed (any other is
// returned as it is): an id that is not a whole number from base to
// base + N - 1 (base 1 in MATLAB/Octave, 0 in Python), then a result too
// large to address. ids holds the call's spike_count ids.
TrainfoldMultiCall trainfold_multi_check_ids(const TrainfoldMultiCall &call,
                                             const double *ids, int32_t base);

}  // namespace spike_bins

#endif  // SPIKE_FILTER_TRAINFOLD_MULTI_CHECK_H
