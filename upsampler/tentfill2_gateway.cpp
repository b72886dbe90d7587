// Host entry point of the module tentfill2:  y = tentfill2(x, nbns).
//
// Checks the arguments with tentfill2_check, has the host create the result
// and fills it with upsample_bins. Keeps no state.
#include "mex/host_arrays.h"
#include "upsampler/tentfill2_check.h"
#include "upsampler/upsample_bins.h"

extern "C" MODULE_EXPORT void mexFunction(int /*nlhs*/, mxArray *plhs[],
                                          int nrhs, const mxArray *prhs[]) {
  using namespace spike_bins;
  const mxArray *x_array = counted_arg(nrhs, 2, prhs, 0);
  const mxArray *nbns_array = counted_arg(nrhs, 2, prhs, 1);
  const ArgInfo x = arg_info(x_array);
  const ArgInfo nbns = arg_info(nbns_array);
  const double *nbns_values = leading_values(nbns_array, nbns, 1);
  const Tentfill2Call call =
      tentfill2_check(nrhs, x, nbns, nbns_values ? nbns_values[0] : 0.0);
  refuse_if(call.refusal);
  const DoubleMatrix input =
      matrix_view(x_array, call.input_rows, call.input_cols);
  const DoubleMatrix result =
      create_result(&plhs[0], call.shape.output_rows, call.input_cols);
  upsample_bins(input, nbns_values[0], result);
}
