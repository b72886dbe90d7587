// Host entry point of the module trainfold_mex:
//   y = trainfold_mex(spinds, h_currents, twin).
//
// Checks the arguments, has the host create the zero-filled result of the
// size given by spike_window and adds into it with spike_filter_sum. Every
// refusal comes before anything is created, and before the data of spinds
// and h_currents is taken (see mex/host_arrays.h). Keeps no state.
#include "mex/host_arrays.h"
#include "spike_filter/spike_filter_sum.h"

extern "C" MODULE_EXPORT void mexFunction(int /*nlhs*/, mxArray *plhs[],
                                          int nrhs, const mxArray *prhs[]) {
  if (nrhs != 3) {
    refuse("needs 3 input args:  trainfold_mex(spinds, h_currents, twin)");
  }
  const mxArray *spinds = prhs[0];
  const mxArray *h_currents = prhs[1];
  const mxArray *twin_array = prhs[2];
  // The first check after the count, on spinds alone; compared in the host's
  // width, so that a column count beyond 2^31 does not wrap.
  const HostSize spinds_size = host_size(spinds);
  if (spinds_size.cols > 1) {
    refuse("trainfold_mex: Spike Times Must Be Passed in As a COLUMN Vector!!");
  }
  if (!is_full_double(spinds)) {
    refuse("spinds must be a full (non-sparse) double array");
  }
  if (!is_full_double(h_currents)) {
    refuse("h_currents must be a full (non-sparse) double array");
  }
  if (!is_full_double(twin_array)) {
    refuse("twin must be a full (non-sparse) double array");
  }
  if (mxGetNumberOfElements(twin_array) < 2) {
    refuse("twin must hold two values, the first and last bin of the window");
  }
  const HostSize filters_size = host_size(h_currents);
  if (!fits_int32(spinds_size) || !fits_int32(filters_size)) {
    refuse("spinds or h_currents has more than 2^31 - 1 rows or columns");
  }
  const double *twin = mxGetPr(twin_array);
  const SpikeWindow window = spike_window(twin);
  if (window.status == SpikeWindowStatus::bad_end) {
    refuse(
        "twin values must be numbers within the 32-bit integer range (not NaN "
        "or Inf)");
  }
  if (window.status == SpikeWindowStatus::negative_rows) {
    refuse(
        "twin(2) must be at least twin(1) - 1 (the window would have a "
        "negative number of rows)");
  }
  if (window.status != SpikeWindowStatus::ok) {
    refuse("the window twin(1) .. twin(2) has more than 2^31 - 1 bins");
  }
  // A column of rows with no column holds no spike times: count the
  // elements (at most one column), not the rows.
  const int32_t spike_count =
      static_cast<int32_t>(spinds_size.rows * spinds_size.cols);
  const double *spike_times = data_of(spinds);
  const DoubleMatrix filters = matrix_view(h_currents, filters_size);
  // Every input is read before the result is created.
  const DoubleMatrix result =
      create_result(&plhs[0], window.rows, filters.cols);
  spike_filter_sum(spike_times, spike_count, filters, twin, result);
}
