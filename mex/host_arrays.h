// Gateway-side helpers for reading host arrays and raising host errors.
//
// Used only by the module gateways: the kernels and their tests never include
// this header, so they build with no host.
//
// Octave hands some values over as it stores them (ranges, diagonal and
// permutation matrices, lazy indices, complex values) and converts one to a
// full real matrix only when a module asks for its data (mxGetPr). Dims that
// a module asked for first (mxGetN, mxGetDimensions, mxGetNumberOfDimensions)
// are lost at that conversion: 16 bytes or more per argument and call. The
// row and element counts (mxGetM, mxGetNumberOfElements) keep nothing, so the
// helpers below take the sizes from them, ask for the column count only of an
// array with no rows, and never ask for the data of an array with no
// elements. Gateways take the data of a matrix argument only after their
// last refusal, so that a refusal never converts a huge lazily stored
// argument; the scalar arguments (nbns, twin) are read once they are known
// to be full double arrays with enough elements.
// MATLAB stores every value in full; the same calls are valid there.
#ifndef MEX_HOST_ARRAYS_H
#define MEX_HOST_ARRAYS_H

#include <cstdint>
#include <cstdlib>

#include "common/arg_check.h"
#include "common/double_matrix.h"
#include "mex.h"

namespace spike_bins {

// The module's one export; everything else stays hidden.
#if defined(_WIN32)
#define MODULE_EXPORT __declspec(dllexport)
#else
#define MODULE_EXPORT __attribute__((visibility("default")))
#endif

// Raises a host error with the message and ends the call. mexErrMsgTxt never
// returns, but Octave's mex.h does not say so; the abort is never reached and
// lets the compiler see that no code runs after a refusal.
[[noreturn]] inline void refuse(const char *message) {
  mexErrMsgTxt(message);
  std::abort();
}

// Raises the refusal of a module's check, if it has one.
inline void refuse_if(const Refusal &refusal) {
  if (refusal.kind != RefusalKind::none) {
    refuse(refusal.mex_text);
  }
}

// Dense double data (real, or complex with its real part first) is the only
// storage mxGetPr can hand out safely as rows * columns doubles: other classes
// hold another element type, and sparse arrays hold fewer values.
inline bool is_full_double(const mxArray *array) {
  return mxIsDouble(array) && !mxIsSparse(array);
}

// Argument `index` of a call that must have `expected` arguments; null when
// the call has another count, so that a call the count check refuses has no
// argument looked at.
inline const mxArray *counted_arg(int count, int expected,
                                  const mxArray *const args[], int index) {
  return count == expected ? args[index] : nullptr;
}

// What the checks need to know of an argument (null: none), of any class:
// reads no data and converts nothing. Columns are the product of all dims
// after the first, in the host's width.
inline ArgInfo arg_info(const mxArray *array) {
  if (array == nullptr) {
    return ArgInfo{false, false, 0, 0};
  }
  const uint64_t rows = mxGetM(array);
  // With no rows there are no elements, so data_of never converts it: its
  // dims cannot be lost.
  const uint64_t cols =
      rows == 0 ? static_cast<uint64_t>(mxGetN(array))
                : static_cast<uint64_t>(mxGetNumberOfElements(array)) / rows;
  return ArgInfo{is_full_double(array), false, rows, cols};
}

// Data of a full double array (its real part); null when it has no elements.
inline double *data_of(const mxArray *array) {
  return mxGetNumberOfElements(array) == 0 ? nullptr : mxGetPr(array);
}

// The data of a scalar-like argument (nbns, twin) once it is known to be a
// full double array of at least `want` elements; null otherwise.
inline const double *leading_values(const mxArray *array, const ArgInfo &info,
                                    uint64_t want) {
  if (array == nullptr || !info.numeric || element_count(info) < want) {
    return nullptr;
  }
  return mxGetPr(array);
}

// View of a full double array of checked size.
inline DoubleMatrix matrix_view(const mxArray *array, int32_t rows,
                                int32_t cols) {
  return DoubleMatrix{rows, cols, data_of(array)};
}

// Has the host create the zero-filled rows x cols real double result, stores
// its handle in *slot at once (the host owns it from then on) and returns the
// view of it.
inline DoubleMatrix create_result(mxArray **slot, int32_t rows, int32_t cols) {
  *slot = mxCreateDoubleMatrix(rows, cols, mxREAL);
  return DoubleMatrix{rows, cols, mxGetPr(*slot)};
}

}  // namespace spike_bins

#endif  // MEX_HOST_ARRAYS_H
