// Host entry point of the module trainfold_multi_adjoint:
//   g = trainfold_multi_adjoint(spinds, ids, r, twin, ntaps, nsources).
//
// Checks the arguments with trainfold_multi_adjoint_check (the ids, numbered
// from 1, last), has the host create the zero-filled result
// (targets x ntaps*nsources) and adds into it with spike_filter_multi_adjoint.
// Keeps no state.
#include "mex/host_arrays.h"
#include "spike_filter/spike_filter_multi_adjoint.h"
#include "spike_filter/trainfold_multi_adjoint_check.h"

extern "C" MODULE_EXPORT void mexFunction(int /*nlhs*/, mxArray *plhs[],
                                          int nrhs, const mxArray *prhs[]) {
  using namespace spike_bins;
  constexpr int32_t kIdBase = 1;
  const mxArray *spinds_array = counted_arg(nrhs, 6, prhs, 0);
  const mxArray *ids_array = counted_arg(nrhs, 6, prhs, 1);
  const mxArray *r_array = counted_arg(nrhs, 6, prhs, 2);
  const mxArray *twin_array = counted_arg(nrhs, 6, prhs, 3);
  const mxArray *ntaps_array = counted_arg(nrhs, 6, prhs, 4);
  const mxArray *nsources_array = counted_arg(nrhs, 6, prhs, 5);
  const ArgInfo spinds = arg_info(spinds_array);
  const ArgInfo ids = arg_info(ids_array);
  const ArgInfo r = arg_info(r_array);
  const ArgInfo twin = arg_info(twin_array);
  const ArgInfo ntaps = arg_info(ntaps_array);
  const ArgInfo nsources = arg_info(nsources_array);
  const double *twin_values = leading_values(twin_array, twin, 2);
  const double *ntaps_values = leading_values(ntaps_array, ntaps, 1);
  const double *nsources_values = leading_values(nsources_array, nsources, 1);
  const double ntaps_value = ntaps_values ? ntaps_values[0] : 0.0;
  const double nsources_value = nsources_values ? nsources_values[0] : 0.0;
  TrainfoldMultiAdjointCall call =
      trainfold_multi_adjoint_check(nrhs, spinds, ids, r, twin, ntaps, nsources,
                                    twin_values, ntaps_value, nsources_value);
  refuse_if(call.refusal);
  const double *source_ids = data_of(ids_array);
  call = trainfold_multi_adjoint_check_ids(call, source_ids, kIdBase);
  refuse_if(call.refusal);
  const double *spike_times = data_of(spinds_array);
  const DoubleMatrix input =
      matrix_view(r_array, call.targets, call.shape.window.rows);
  // Every input is read before the result is created.
  const DoubleMatrix result =
      create_result(&plhs[0], call.targets, call.multi.columns);
  spike_filter_multi_adjoint(spike_times, source_ids, call.spike_count, input,
                             twin_values, ntaps_value, nsources_value, kIdBase,
                             result);
}
