// Refusals of the nbns argument, shared by the checks of tentfill2 and
// tentfill2_adjoint (see common/arg_check.h).
#ifndef UPSAMPLER_NBNS_REFUSALS_H
#define UPSAMPLER_NBNS_REFUSALS_H

#include "common/arg_check.h"

namespace spike_bins {

inline constexpr auto kNbnsType = scalar_type_refusal("nbns");
inline constexpr auto kNbnsEmpty =
    empty_refusal("nbns", "the number of fine bins per coarse bin");

}  // namespace spike_bins

#endif  // UPSAMPLER_NBNS_REFUSALS_H
