// Non-owning view of a column-major matrix of doubles.
//
// Element (row, column) lives at data[row + rows * column]. Sizes are 32-bit
// signed counts; element positions are formed in pointer-width arithmetic
// (element_offset) so that rows * columns never overflows 32 bits.
#ifndef COMMON_DOUBLE_MATRIX_H
#define COMMON_DOUBLE_MATRIX_H

#include <cstddef>
#include <cstdint>

namespace spike_bins {

struct DoubleMatrix {
  int32_t rows;
  int32_t cols;
  double *data;  // rows * cols doubles; may be null when either count is 0
};

// Position of (row, column) in the data array, in 64-bit arithmetic.
inline std::ptrdiff_t element_offset(const DoubleMatrix &m, int64_t row,
                                     int64_t column) {
  return static_cast<std::ptrdiff_t>(row +
                                     static_cast<int64_t>(m.rows) * column);
}

// Pointer to the first element of a column.
inline double *column_data(const DoubleMatrix &m, int64_t column) {
  return m.data + element_offset(m, 0, column);
}

}  // namespace spike_bins

#endif  // COMMON_DOUBLE_MATRIX_H
