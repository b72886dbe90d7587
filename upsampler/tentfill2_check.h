// The argument check of tentfill2(x, nbns), shared by the MATLAB/Octave
// gateway and the Python binding (see common/arg_check.h).
#ifndef UPSAMPLER_TENTFILL2_CHECK_H
#define UPSAMPLER_TENTFILL2_CHECK_H

#include <cstdint>

#include "common/arg_check.h"
#include "upsampler/upsample_bins.h"

namespace spike_bins {

struct Tentfill2Call {
  Refusal refusal;      // kind none: go ahead with the sizes below
  int32_t input_rows;   // m
  int32_t input_cols;   // n
  UpsampleShape shape;  // E and the result's rows (m * E)
};

// Refusals in this order: argument count (arg_count != 2), x not numeric,
// nbns not numeric, nbns empty, x with extra dims, x beyond 2^31 - 1 rows or
// columns, nbns NaN/Inf/<= -1/>= 2^31, m * E beyond 2^31 - 1, a result too
// large to address. nbns_first is the first element of nbns; it is read only
// once nbns is known to be numeric and non-empty (the host may pass 0 else).
Tentfill2Call tentfill2_check(int arg_count, const ArgInfo &x,
                              const ArgInfo &nbns, double nbns_first);

}  // namespace spike_bins

#endif  // UPSAMPLER_TENTFILL2_CHECK_H
