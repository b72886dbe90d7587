// Gateway-side helpers for reading host arrays.
//
// Used only by the module gateways: the kernels and their tests never include
// this header, so they build with no host.
#ifndef MEX_HOST_ARRAYS_H
#define MEX_HOST_ARRAYS_H

#include <cstdint>

#include "common/double_matrix.h"
#include "mex.h"

// The module's one export; everything else stays hidden.
#if defined(_WIN32)
#define MODULE_EXPORT __declspec(dllexport)
#else
#define MODULE_EXPORT __attribute__((visibility("default")))
#endif

// Dense double data (real, or complex with its real part first) is the only
// storage mxGetPr can hand out safely as rows * columns doubles: other classes
// hold another element type, and sparse arrays hold fewer values.
inline bool is_full_double(const mxArray *array) {
  return mxIsDouble(array) && !mxIsSparse(array);
}

// Host sizes are wider than the 32-bit counts of the views.
inline bool fits_int32(uint64_t count) { return count <= INT32_MAX; }

inline bool has_int32_dims(const mxArray *array) {
  return fits_int32(static_cast<uint64_t>(mxGetM(array))) &&
         fits_int32(static_cast<uint64_t>(mxGetN(array)));
}

// View of a full double array whose dimensions fit 32 bits (checked first).
inline DoubleMatrix matrix_view(const mxArray *array) {
  return DoubleMatrix{static_cast<int32_t>(mxGetM(array)),
                      static_cast<int32_t>(mxGetN(array)), mxGetPr(array)};
}

#endif  // MEX_HOST_ARRAYS_H
