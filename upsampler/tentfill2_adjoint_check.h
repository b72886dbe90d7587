// The argument check of tentfill2_adjoint(r, nbns), shared by the
// MATLAB/Octave gateway and the Python binding (see common/arg_check.h).
#ifndef UPSAMPLER_TENTFILL2_ADJOINT_CHECK_H
#define UPSAMPLER_TENTFILL2_ADJOINT_CHECK_H

#include <cstdint>

#include "common/arg_check.h"
#include "upsampler/upsample_bins_adjoint.h"

namespace spike_bins {

struct Tentfill2AdjointCall {
  Refusal refusal;             // kind none: go ahead with the sizes below
  int32_t input_rows;          // F, rows of r
  int32_t input_cols;          // n
  UpsampleAdjointShape shape;  // E and the result's rows (F / E)
};

// Refusals in this order: argument count (arg_count != 2), r not numeric,
// nbns not numeric, nbns empty, r with extra dims, r beyond 2^31 - 1 rows or
// columns, nbns NaN/Inf/< 1/>= 2^31, F not a multiple of E, a result too
// large to address. nbns_first is the first element of nbns; it is read only
// once nbns is known to be numeric and non-empty (the host may pass 0 else).
Tentfill2AdjointCall tentfill2_adjoint_check(int arg_count, const ArgInfo &r,
                                             const ArgInfo &nbns,
                                             double nbns_first);

}  // namespace spike_bins

#endif  // UPSAMPLER_TENTFILL2_ADJOINT_CHECK_H
