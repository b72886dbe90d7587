// Host entry point of the module rate_exp:  y = rate_exp(eta).
//
// Checks the argument with rate_exp_check, has the host create the result
// and fills it with portable_exp. Keeps no state.
#include "mex/host_arrays.h"
#include "rate/portable_exp.h"
#include "rate/rate_exp_check.h"

extern "C" MODULE_EXPORT void mexFunction(int /*nlhs*/, mxArray *plhs[],
                                          int nrhs, const mxArray *prhs[]) {
  using namespace spike_bins;
  const mxArray *eta_array = counted_arg(nrhs, 1, prhs, 0);
  const ArgInfo eta = arg_info(eta_array);
  const bool eta_complex = eta_array != nullptr && mxIsComplex(eta_array);
  const RateExpCall call = rate_exp_check(nrhs, eta, eta_complex);
  refuse_if(call.refusal);
  const DoubleMatrix input =
      matrix_view(eta_array, call.shape.rows, call.shape.cols);
  const DoubleMatrix result =
      create_result(&plhs[0], call.shape.rows, call.shape.cols);
  portable_exp(input, result);
}
