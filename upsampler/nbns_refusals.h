// Refusals of the nbns argument, shared by the checks of tentfill2 and
// tentfill2_adjoint (see common/arg_check.h).
#ifndef UPSAMPLER_NBNS_REFUSALS_H
#define UPSAMPLER_NBNS_REFUSALS_H

#include "common/arg_check.h"

namespace spike_bins {

inline constexpr Refusal kNbnsType{
    RefusalKind::arg_type, "nbns must be a full (non-sparse) double array",
    "nbns must be a real number (bool, integer or float; not complex, text "
    "or objects)"};
inline constexpr Refusal kNbnsEmpty{
    RefusalKind::arg_value,
    "nbns is empty; it must hold the number of fine bins per coarse bin",
    "nbns is empty; it must hold the number of fine bins per coarse bin"};

}  // namespace spike_bins

#endif  // UPSAMPLER_NBNS_REFUSALS_H
