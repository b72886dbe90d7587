// The argument check of trainfold_multi_adjoint(spinds, ids, r, twin, ntaps,
// nsources), shared by the MATLAB/Octave gateway and the Python binding (see
// common/arg_check.h). Two steps, as trainfold_pop_adjoint's: the ids' data
// is read only once every other argument has passed.
#ifndef SPIKE_FILTER_TRAINFOLD_MULTI_ADJOINT_CHECK_H
#define SPIKE_FILTER_TRAINFOLD_MULTI_ADJOINT_CHECK_H

#include <cstdint>

#include "common/arg_check.h"
#include "spike_filter/spike_filter_multi_adjoint.h"

namespace spike_bins {

struct TrainfoldMultiAdjointCall {
  Refusal refusal;          // kind none: go ahead with the sizes below
  int32_t spike_count;      // elements of spinds (and of ids)
  int32_t targets;          // K, rows of r and of the result
  SpikeAdjointShape shape;  // the window (r's columns) and c
  MultiSources multi;       // N, c and the result's columns c * N
};

// Refusals in this order: argument count (arg_count != 6), spinds with more
// than one column, ids with more than one column, spinds, ids, r, twin, ntaps
// or nsources not numeric, twin with fewer than two values, ntaps empty,
// nsources empty, r with extra dims, spinds, ids or r beyond 2^31 - 1 rows or
// columns, ids not as many as spinds, a twin value NaN, Inf or outside int32,
// T1 < T0 - 1, a window beyond 2^31 - 1 bins, ntaps not a whole number from 0
// to 2^31 - 1, r's columns not the window's bins, nsources not a whole number
// from 1 to 2^31 - 1, c * N beyond 2^31 - 1. twin_first_two, ntaps_first and
// nsources_first are read only once their argument is known to be numeric
// with enough values.
TrainfoldMultiAdjointCall trainfold_multi_adjoint_check(
    int arg_count, const ArgInfo &spinds, const ArgInfo &ids, const ArgInfo &r,
    const ArgInfo &twin, const ArgInfo &ntaps, const ArgInfo &nsources,
    const double *twin_first_two, double ntaps_first, double nsources_first);

// The last refusals, for a call trainfold_multi_adjoint_check passed (any
// other is returned as it is): an id that is not a whole number from base to
// base + N - 1, then a result too large to address.
TrainfoldMultiAdjointCall trainfold_multi_adjoint_check_ids(
    const TrainfoldMultiAdjointCall &call, const double *ids, int32_t base);

}  // namespace spike_bins

#endif  // SPIKE_FILTER_TRAINFOLD_MULTI_ADJOINT_CHECK_H
