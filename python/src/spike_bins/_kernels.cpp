// Python entry points of the kernels: spike_bins._kernels.tentfill2(x, nbns)
// and spike_bins._kernels.trainfold(spinds, h_currents, twin).
//
// Each argument is first looked at as a numpy array of whatever dtype it has
// (an ndarray is not copied). All checks run on those, in the order of the
// MATLAB/Octave gateways and with their texts: TypeError for an argument that
// is not real numeric data, ValueError for the rest. Only then is each matrix
// argument converted, once, to an aligned Fortran-ordered float64 array (an
// argument that already is one is used in place), the result allocated and
// the kernel run with the GIL released.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstddef>
#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "common/double_matrix.h"
#include "spike_filter/spike_filter_sum.h"
#include "upsampler/upsample_bins.h"

namespace py = pybind11;

namespace {

using FortranArray = py::array_t<double, py::array::f_style>;

// The argument as an ndarray of real numeric dtype (bool, integer or real
// float, which convert to float64 by value), or null. Complex data would lose
// its imaginary part; strings and dates are not numbers; object arrays (mixed
// lists, None, sparse matrices) are refused too, as numpy would turn None into
// NaN.
py::object numeric_array(py::handle value) {
  py::array array = py::array::ensure(value);
  if (!array) {
    return py::object();  // not even an array (e.g. ragged nested lists)
  }
  const char kind = array.dtype().kind();
  if (kind == 'b' || kind == 'i' || kind == 'u' || kind == 'f') {
    return std::move(array);
  }
  return py::object();
}

py::array numeric_or_type_error(py::handle value, const char *message) {
  py::object array = numeric_array(value);
  if (!array) {
    throw py::type_error(message);
  }
  return py::reinterpret_steal<py::array>(array.release());
}

// The one conversion: an aligned, Fortran-ordered float64 array holding the
// values of a numeric array; the array itself when it already is one.
FortranArray fortran_float64(const py::array &array) {
  constexpr int flags = py::detail::npy_api::NPY_ARRAY_F_CONTIGUOUS_ |
                        py::detail::npy_api::NPY_ARRAY_ALIGNED_ |
                        py::detail::npy_api::NPY_ARRAY_FORCECAST_ |
                        py::detail::npy_api::NPY_ARRAY_ENSUREARRAY_;
  PyObject *converted = py::detail::npy_api::get().PyArray_FromAny_(
      array.ptr(), py::dtype::of<double>().release().ptr(), 0, 0, flags,
      nullptr);
  if (converted == nullptr) {
    throw py::error_already_set();  // MemoryError
  }
  return py::reinterpret_steal<FortranArray>(converted);
}

// Rows and columns of a matrix argument of at most 2 dimensions, in the
// host's width: a 1-D array is one column, a 0-d array a single value.
struct ArrayShape {
  int64_t rows;
  int64_t cols;
};

ArrayShape matrix_shape(const py::array &array) {
  if (array.ndim() == 0) {
    return {1, 1};
  }
  if (array.ndim() == 1) {
    return {array.shape(0), 1};
  }
  return {array.shape(0), array.shape(1)};
}

bool fits_int32(int64_t count) { return count <= INT32_MAX; }

// The element at position `index` in column-major order, as a double.
double element_in_column_order(const py::array &array, py::ssize_t index) {
  if (index == 0) {
    return py::float_(array.attr("item")(0));  // first in every order
  }
  py::array flat = array.attr("ravel")("F");
  return py::float_(flat.attr("item")(index));
}

// A view of a converted array of `shape`.
DoubleMatrix matrix_view(const FortranArray &array, ArrayShape shape) {
  return DoubleMatrix{static_cast<int32_t>(shape.rows),
                      static_cast<int32_t>(shape.cols),
                      const_cast<double *>(array.data())};
}

// numpy.zeros takes a large result from calloc as fresh, untouched pages; the
// kernel then faults them in one by one. Ask Linux for transparent huge pages
// for them first, as numpy does for the arrays it takes from malloc: with
// 4 KiB pages the faults cost several times the kernel's own work. A hint
// only: nothing depends on whether it is followed.
void advise_huge_pages(double *data, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr std::size_t large = std::size_t{4} << 20;
  const long page = sysconf(_SC_PAGESIZE);
  if (bytes < large || page <= 0) {
    return;
  }
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  const auto page_size = static_cast<std::uintptr_t>(page);
  const std::uintptr_t first = (begin + page_size - 1) / page_size * page_size;
  const std::uintptr_t end = (begin + bytes) / page_size * page_size;
  if (first < end) {
    madvise(reinterpret_cast<void *>(first), end - first, MADV_HUGEPAGE);
  }
#else
  (void)data;
  (void)bytes;
#endif
}

py::array tentfill2(py::handle x_arg, py::handle nbns_arg) {
  const py::array x = numeric_or_type_error(
      x_arg, "x must be a full (non-sparse) double array");
  const py::array nbns_array = numeric_or_type_error(
      nbns_arg, "nbns must be a full (non-sparse) double array");
  if (nbns_array.size() == 0) {
    throw py::value_error(
        "nbns is empty; it must hold the number of fine bins per coarse bin");
  }
  if (x.ndim() > 2) {
    throw py::value_error(
        "x must have at most 2 dimensions (a 1-D x is one column)");
  }
  const ArrayShape x_shape = matrix_shape(x);
  if (!fits_int32(x_shape.rows) || !fits_int32(x_shape.cols)) {
    throw py::value_error("x has more than 2^31 - 1 rows or columns");
  }
  const double nbns = element_in_column_order(nbns_array, 0);
  const UpsampleShape shape =
      upsample_output_shape(static_cast<int32_t>(x_shape.rows), nbns);
  if (shape.status == UpsampleShapeStatus::bad_bin_count) {
    throw py::value_error(
        "nbns must be a number greater than -1 and less than 2^31 (not NaN or "
        "Inf)");
  }
  if (shape.status != UpsampleShapeStatus::ok) {
    throw py::value_error(
        "the result would have more than 2^31 - 1 rows (size(x, 1) * "
        "fix(nbns))");
  }
  const FortranArray x_data = fortran_float64(x);
  // Every element is assigned by the kernel: no zero fill needed.
  FortranArray result({static_cast<py::ssize_t>(shape.output_rows),
                       static_cast<py::ssize_t>(x_shape.cols)});
  const DoubleMatrix input = matrix_view(x_data, x_shape);
  const DoubleMatrix output{shape.output_rows, input.cols,
                            result.mutable_data()};
  {
    py::gil_scoped_release unlocked;
    upsample_bins(input, nbns, output);
  }
  return std::move(result);
}

py::array trainfold(py::handle spinds_arg, py::handle h_currents_arg,
                    py::handle twin_arg) {
  // The column check comes first and needs only the shape. Columns are
  // counted as the host does, over every dimension after the first: more
  // than one when none is 0 and one is above 1. A 1-D array is a column.
  const py::array spinds_any = py::array::ensure(spinds_arg);
  if (spinds_any && spinds_any.ndim() >= 2) {
    bool empty = false;
    bool several = false;
    for (py::ssize_t d = 1; d < spinds_any.ndim(); ++d) {
      empty = empty || spinds_any.shape(d) == 0;
      several = several || spinds_any.shape(d) > 1;
    }
    if (several && !empty) {
      throw py::value_error(
          "trainfold_mex: Spike Times Must Be Passed in As a COLUMN Vector!!");
    }
  }
  const py::array spinds =
      numeric_or_type_error(spinds_any ? py::handle(spinds_any) : spinds_arg,
                            "spinds must be a full (non-sparse) double array");
  const py::array h_currents = numeric_or_type_error(
      h_currents_arg, "h_currents must be a full (non-sparse) double array");
  const py::array twin_array = numeric_or_type_error(
      twin_arg, "twin must be a full (non-sparse) double array");
  if (twin_array.size() < 2) {
    throw py::value_error(
        "twin must hold two values, the first and last bin of the window");
  }
  if (h_currents.ndim() > 2) {
    throw py::value_error(
        "h_currents must have at most 2 dimensions (a 1-D h_currents is one "
        "filter)");
  }
  const ArrayShape filter_shape = matrix_shape(h_currents);
  // Spike times are counted by elements: a column of rows with no column
  // holds none.
  const int64_t spike_count = spinds.size();
  if (!fits_int32(spike_count) || !fits_int32(filter_shape.rows) ||
      !fits_int32(filter_shape.cols)) {
    throw py::value_error(
        "spinds or h_currents has more than 2^31 - 1 rows or columns");
  }
  const double twin[2] = {element_in_column_order(twin_array, 0),
                          element_in_column_order(twin_array, 1)};
  const SpikeWindow window = spike_window(twin);
  if (window.status == SpikeWindowStatus::bad_end) {
    throw py::value_error(
        "twin values must be numbers within the 32-bit integer range (not NaN "
        "or Inf)");
  }
  if (window.status == SpikeWindowStatus::negative_rows) {
    throw py::value_error(
        "twin(2) must be at least twin(1) - 1 (the window would have a "
        "negative number of rows)");
  }
  if (window.status != SpikeWindowStatus::ok) {
    throw py::value_error(
        "the window twin(1) .. twin(2) has more than 2^31 - 1 bins");
  }
  const FortranArray spike_data = fortran_float64(spinds);
  const FortranArray filter_data = fortran_float64(h_currents);
  // The kernel adds into the result, which numpy.zeros hands over zeroed
  // (from calloc: a large result comes as fresh zero pages, with no pass of
  // its own).
  FortranArray result = py::module_::import("numpy").attr("zeros")(
      py::make_tuple(window.rows, filter_shape.cols), "float64", "F");
  const DoubleMatrix filters = matrix_view(filter_data, filter_shape);
  const DoubleMatrix output{window.rows, filters.cols, result.mutable_data()};
  {
    py::gil_scoped_release unlocked;
    advise_huge_pages(output.data, static_cast<std::size_t>(result.nbytes()));
    spike_filter_sum(spike_data.data(), static_cast<int32_t>(spike_count),
                     filters, twin, output);
  }
  return result;
}

}  // namespace

PYBIND11_MODULE(_kernels, module) {
  module.doc() =
      "The upsampling and spike-train filter-sum kernels, bit-identical to "
      "the MATLAB/Octave modules tentfill2 and trainfold_mex.";
  module.def("tentfill2", &tentfill2, py::arg("x"), py::arg("nbns"));
  module.def("trainfold", &trainfold, py::arg("spinds"), py::arg("h_currents"),
             py::arg("twin"));
}
