// Refusals of the source ids and the source count, shared by the checks of
// trainfold_pop and trainfold_pop_adjoint (see common/arg_check.h).
#ifndef SPIKE_FILTER_POP_REFUSALS_H
#define SPIKE_FILTER_POP_REFUSALS_H

#include "common/arg_check.h"
#include "spike_filter/spike_filter_pop.h"

namespace spike_bins {

inline constexpr Refusal kIdsNotColumn{
    RefusalKind::arg_value,
    "ids must be a column vector of source numbers (one column)",
    "ids must be a 1-D array or a single column of source numbers"};
inline constexpr auto kIdsType = matrix_type_refusal("ids");
inline constexpr auto kNsourcesType = scalar_type_refusal("nsources");
inline constexpr auto kNsourcesEmpty =
    empty_refusal("nsources", "the number of source neurons");
inline constexpr Refusal kIdsLength{
    RefusalKind::arg_value,
    "ids must hold one source number per spike time (as many elements as "
    "spinds)",
    "ids must hold one source number per spike time (as many elements as "
    "spinds)"};
inline constexpr Refusal kNsourcesRange{
    RefusalKind::arg_value,
    "nsources must be a whole number from 1 to 2^31 - 1 (not fractional, NaN "
    "or Inf)",
    "nsources must be a whole number from 1 to 2^31 - 1 (not fractional, NaN "
    "or Inf)"};
// The id base is the host's: 1 in MATLAB/Octave, 0 in Python.
inline constexpr Refusal kBadId{
    RefusalKind::arg_value,
    "ids must be whole numbers from 1 to nsources (not NaN or Inf)",
    "ids must be whole numbers from 0 to nsources - 1 (not NaN or Inf)"};

// The ids' refusal once the host has read their data: kBadId when one of the
// b ids is not a whole number from base to base + sources - 1.
inline Refusal source_id_refusal(const double *ids, int32_t b, int32_t sources,
                                 int32_t base) {
  return first_bad_source_id(ids, b, sources, base) < b ? kBadId : kNoRefusal;
}

}  // namespace spike_bins

#endif  // SPIKE_FILTER_POP_REFUSALS_H
