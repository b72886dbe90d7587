// The argument check of trainfold_mex(spinds, h_currents, twin) (Python:
// trainfold), shared by the MATLAB/Octave gateway and the Python binding
// (see common/arg_check.h).
#ifndef SPIKE_FILTER_TRAINFOLD_CHECK_H
#define SPIKE_FILTER_TRAINFOLD_CHECK_H

#include <cstdint>

#include "common/arg_check.h"
#include "spike_filter/spike_filter_sum.h"

namespace spike_bins {

struct TrainfoldCall {
  Refusal refusal;      // kind none: go ahead with the sizes below
  int32_t spike_count;  // elements of spinds (a column of rows with no
                        // column holds none)
  int32_t taps;         // c, rows of h_currents
  int32_t filters;      // K, columns of h_currents
  SpikeWindow window;   // T0, T1 and the result's rows
};

// Refusals in this order: argument count (arg_count != 3), spinds with more
// than one column (looked at before its class), spinds, h_currents or twin
// not numeric, twin with fewer than two values, h_currents with extra dims,
// spinds or h_currents beyond 2^31 - 1 rows or columns, a twin value NaN,
// Inf or outside int32, T1 < T0 - 1, a window beyond 2^31 - 1 bins, a result
// too large to address. twin_first_two holds the first two elements of twin;
// it is read only once twin is known to be numeric with two values (the host
// may pass null else).
TrainfoldCall trainfold_check(int arg_count, const ArgInfo &spinds,
                              const ArgInfo &h_currents, const ArgInfo &twin,
                              const double *twin_first_two);

}  // namespace spike_bins

#endif  // SPIKE_FILTER_TRAINFOLD_CHECK_H
