// Host entry point of the module tentfill2_adjoint:
//   g = tentfill2_adjoint(r, nbns).
//
// Checks the arguments with tentfill2_adjoint_check, has the host create the
// result and fills it with upsample_bins_adjoint. Keeps no state.
#include "mex/host_arrays.h"
#include "upsampler/tentfill2_adjoint_check.h"
#include "upsampler/upsample_bins_adjoint.h"

extern "C" MODULE_EXPORT void mexFunction(int /*nlhs*/, mxArray *plhs[],
                                          int nrhs, const mxArray *prhs[]) {
  using namespace spike_bins;
  const mxArray *r_array = counted_arg(nrhs, 2, prhs, 0);
  const mxArray *nbns_array = counted_arg(nrhs, 2, prhs, 1);
  const ArgInfo r = arg_info(r_array);
  const ArgInfo nbns = arg_info(nbns_array);
  const double *nbns_values = leading_values(nbns_array, nbns, 1);
  const Tentfill2AdjointCall call = tentfill2_adjoint_check(
      nrhs, r, nbns, nbns_values ? nbns_values[0] : 0.0);
  refuse_if(call.refusal);
  const DoubleMatrix input =
      matrix_view(r_array, call.input_rows, call.input_cols);
  const DoubleMatrix result =
      create_result(&plhs[0], call.shape.output_rows, call.input_cols);
  upsample_bins_adjoint(input, nbns_values[0], result);
}
