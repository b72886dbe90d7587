// Host entry point of the module trainfold_multi:
//   y = trainfold_multi(spinds, ids, h_currents, twin, nsources).
//
// Checks the arguments with trainfold_multi_check (the ids, numbered from 1,
// last), has the host create the zero-filled result (targets x bins) and adds
// into it with spike_filter_multi. Keeps no state.
#include "mex/host_arrays.h"
#include "spike_filter/spike_filter_multi.h"
#include "spike_filter/trainfold_multi_check.h"

extern "C" MODULE_EXPORT void mexFunction(int /*nlhs*/, mxArray *plhs[],
                                          int nrhs, const mxArray *prhs[]) {
  using namespace spike_bins;
  constexpr int32_t kIdBase = 1;
  const mxArray *spinds_array = counted_arg(nrhs, 5, prhs, 0);
  const mxArray *ids_array = counted_arg(nrhs, 5, prhs, 1);
  const mxArray *filters_array = counted_arg(nrhs, 5, prhs, 2);
  const mxArray *twin_array = counted_arg(nrhs, 5, prhs, 3);
  const mxArray *nsources_array = counted_arg(nrhs, 5, prhs, 4);
  const ArgInfo spinds = arg_info(spinds_array);
  const ArgInfo ids = arg_info(ids_array);
  const ArgInfo h_currents = arg_info(filters_array);
  const ArgInfo twin = arg_info(twin_array);
  const ArgInfo nsources = arg_info(nsources_array);
  const double *twin_values = leading_values(twin_array, twin, 2);
  const double *nsources_values = leading_values(nsources_array, nsources, 1);
  const double nsources_value = nsources_values ? nsources_values[0] : 0.0;
  TrainfoldMultiCall call =
      trainfold_multi_check(nrhs, spinds, ids, h_currents, twin, nsources,
                            twin_values, nsources_value);
  refuse_if(call.refusal);
  const double *source_ids = data_of(ids_array);
  call = trainfold_multi_check_ids(call, source_ids, kIdBase);
  refuse_if(call.refusal);
  const double *spike_times = data_of(spinds_array);
  const DoubleMatrix filters =
      matrix_view(filters_array, call.targets, call.multi.columns);
  // Every input is read before the result is created.
  const DoubleMatrix result =
      create_result(&plhs[0], call.targets, call.window.rows);
  spike_filter_multi(spike_times, source_ids, call.spike_count, filters,
                     twin_values, nsources_value, kIdBase, result);
}
