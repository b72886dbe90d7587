// The argument check of trainfold_adjoint(spinds, r, twin, ntaps), shared by
// the MATLAB/Octave gateway and the Python binding (see common/arg_check.h).
#ifndef SPIKE_FILTER_TRAINFOLD_ADJOINT_CHECK_H
#define SPIKE_FILTER_TRAINFOLD_ADJOINT_CHECK_H

#include <cstdint>

#include "common/arg_check.h"
#include "spike_filter/spike_filter_sum_adjoint.h"

namespace spike_bins {

struct TrainfoldAdjointCall {
  Refusal refusal;          // kind none: go ahead with the sizes below
  int32_t spike_count;      // elements of spinds
  int32_t input_cols;       // M, columns of r
  SpikeAdjointShape shape;  // the window (r's rows) and c (the result's rows)
};

// Refusals in this order: argument count (arg_count != 4), spinds with more
// than one column (looked at before its class), spinds, r, twin or ntaps not
// numeric, twin with fewer than two values, ntaps empty, r with extra dims,
// spinds or r beyond 2^31 - 1 rows or columns, a twin value NaN, Inf or
// outside int32, T1 < T0 - 1, a window beyond 2^31 - 1 bins, ntaps not a
// whole number from 0 to 2^31 - 1, r's rows not the window's, a result too
// large to address. twin_first_two holds the first two elements of twin and
// ntaps_first the first of ntaps; each is read only once its argument is
// known to be numeric with enough values (the host may pass null or 0 else).
TrainfoldAdjointCall trainfold_adjoint_check(
    int arg_count, const ArgInfo &spinds, const ArgInfo &r, const ArgInfo &twin,
    const ArgInfo &ntaps, const double *twin_first_two, double ntaps_first);

}  // namespace spike_bins

#endif  // SPIKE_FILTER_TRAINFOLD_ADJOINT_CHECK_H
