// Host entry point of the module trainfold_adjoint:
//   g = trainfold_adjoint(spinds, r, twin, ntaps).
//
// Checks the arguments with trainfold_adjoint_check, has the host create the
// zero-filled result and adds into it with spike_filter_sum_adjoint. Keeps no
// state.
#include "mex/host_arrays.h"
#include "spike_filter/spike_filter_sum_adjoint.h"
#include "spike_filter/trainfold_adjoint_check.h"

extern "C" MODULE_EXPORT void mexFunction(int /*nlhs*/, mxArray *plhs[],
                                          int nrhs, const mxArray *prhs[]) {
  using namespace spike_bins;
  const mxArray *spinds_array = counted_arg(nrhs, 4, prhs, 0);
  const mxArray *r_array = counted_arg(nrhs, 4, prhs, 1);
  const mxArray *twin_array = counted_arg(nrhs, 4, prhs, 2);
  const mxArray *ntaps_array = counted_arg(nrhs, 4, prhs, 3);
  const ArgInfo spinds = arg_info(spinds_array);
  const ArgInfo r = arg_info(r_array);
  const ArgInfo twin = arg_info(twin_array);
  const ArgInfo ntaps = arg_info(ntaps_array);
  const double *twin_values = leading_values(twin_array, twin, 2);
  const double *ntaps_values = leading_values(ntaps_array, ntaps, 1);
  const TrainfoldAdjointCall call =
      trainfold_adjoint_check(nrhs, spinds, r, twin, ntaps, twin_values,
                              ntaps_values ? ntaps_values[0] : 0.0);
  refuse_if(call.refusal);
  const double *spike_times = data_of(spinds_array);
  const DoubleMatrix input =
      matrix_view(r_array, call.shape.window.rows, call.input_cols);
  // Every input is read before the result is created.
  const DoubleMatrix result =
      create_result(&plhs[0], call.shape.taps, call.input_cols);
  spike_filter_sum_adjoint(spike_times, call.spike_count, input, twin_values,
                           ntaps_values[0], result);
}
