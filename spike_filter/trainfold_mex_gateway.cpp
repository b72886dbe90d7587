// Host entry point of the module trainfold_mex:
//   y = trainfold_mex(spinds, h_currents, twin).
//
// Checks the arguments with trainfold_check, has the host create the
// zero-filled result and adds into it with spike_filter_sum. Keeps no state.
#include "mex/host_arrays.h"
#include "spike_filter/spike_filter_sum.h"
#include "spike_filter/trainfold_check.h"

extern "C" MODULE_EXPORT void mexFunction(int /*nlhs*/, mxArray *plhs[],
                                          int nrhs, const mxArray *prhs[]) {
  using namespace spike_bins;
  const mxArray *spinds_array = counted_arg(nrhs, 3, prhs, 0);
  const mxArray *filters_array = counted_arg(nrhs, 3, prhs, 1);
  const mxArray *twin_array = counted_arg(nrhs, 3, prhs, 2);
  const ArgInfo spinds = arg_info(spinds_array);
  const ArgInfo h_currents = arg_info(filters_array);
  const ArgInfo twin = arg_info(twin_array);
  const double *twin_values = leading_values(twin_array, twin, 2);
  const TrainfoldCall call =
      trainfold_check(nrhs, spinds, h_currents, twin, twin_values);
  refuse_if(call.refusal);
  const double *spike_times = data_of(spinds_array);
  const DoubleMatrix filters =
      matrix_view(filters_array, call.taps, call.filters);
  // Every input is read before the result is created.
  const DoubleMatrix result =
      create_result(&plhs[0], call.window.rows, call.filters);
  spike_filter_sum(spike_times, call.spike_count, filters, twin_values, result);
}
