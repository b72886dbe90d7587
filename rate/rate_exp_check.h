// The argument check of rate_exp(eta), shared by the MATLAB/Octave gateway
// and the Python binding (see common/arg_check.h).
#ifndef RATE_RATE_EXP_CHECK_H
#define RATE_RATE_EXP_CHECK_H

#include <cstdint>

#include "common/arg_check.h"
#include "rate/portable_exp.h"

namespace spike_bins {

struct RateExpCall {
  Refusal refusal;  // kind none: go ahead with the sizes below
  ExpShape shape;   // the result's rows and columns: eta's
};

// Refusals in this order: argument count (arg_count != 1), eta not numeric,
// eta complex, eta with extra dims, eta beyond 2^31 - 1 rows or columns, a
// result too large to address. eta_complex says the host holds eta as
// complex values (MATLAB/Octave; the Python binding describes a complex
// array as not numeric): the exponential of a complex value is not that of
// its real part, so it is refused rather than read as its real part.
RateExpCall rate_exp_check(int arg_count, const ArgInfo &eta, bool eta_complex);

}  // namespace spike_bins

#endif  // RATE_RATE_EXP_CHECK_H
