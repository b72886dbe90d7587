// Python entry points of the kernels: spike_bins._kernels.tentfill2(x, nbns),
// spike_bins._kernels.trainfold(spinds, h_currents, twin), their adjoints
// tentfill2_adjoint(r, nbns) and trainfold_adjoint(spinds, r, twin, ntaps),
// and the population sums trainfold_pop(spinds, ids, h_currents, twin,
// nsources, out=None) and trainfold_pop_adjoint(spinds, ids, r, twin, ntaps,
// nsources, out=None), which number sources from 0 and can add into out, and
// their targets-major forms trainfold_multi(spinds, ids, h_currents, twin,
// nsources, out=None) and trainfold_multi_adjoint(spinds, ids, r, twin,
// ntaps, nsources, out=None), and the elementwise exponential
// rate_exp(eta, out=None), whose result keeps eta's shape.
//
// Each argument is first looked at as a numpy array of whatever dtype it has
// (an ndarray is not copied) and described to the module's shared check
// (upsampler/tentfill2_check.h, spike_filter/trainfold_check.h), which the
// MATLAB/Octave gateways use too: the same refusals in the same order, raised
// here as TypeError (an argument that is not real numbers) or ValueError
// (sizes and values), in Python's wording. Only then is each matrix argument
// converted, once, to an aligned Fortran-ordered float64 array (an argument
// that already is one is used in place), the result allocated and the kernel
// run with the GIL released.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "common/arg_check.h"
#include "common/double_matrix.h"
#include "rate/portable_exp.h"
#include "rate/rate_exp_check.h"
#include "spike_filter/spike_filter_multi.h"
#include "spike_filter/spike_filter_multi_adjoint.h"
#include "spike_filter/spike_filter_pop.h"
#include "spike_filter/spike_filter_pop_adjoint.h"
#include "spike_filter/spike_filter_sum.h"
#include "spike_filter/spike_filter_sum_adjoint.h"
#include "spike_filter/trainfold_adjoint_check.h"
#include "spike_filter/trainfold_check.h"
#include "spike_filter/trainfold_multi_adjoint_check.h"
#include "spike_filter/trainfold_multi_check.h"
#include "spike_filter/trainfold_pop_adjoint_check.h"
#include "spike_filter/trainfold_pop_check.h"
#include "upsampler/tentfill2_adjoint_check.h"
#include "upsampler/tentfill2_check.h"
#include "upsampler/upsample_bins.h"
#include "upsampler/upsample_bins_adjoint.h"

using namespace spike_bins;

namespace py = pybind11;

namespace {

using FortranArray = py::array_t<double, py::array::f_style>;

// An argument as the binding sees it: the array (null for a value numpy
// cannot make an array of, such as a ragged list) and its facts.
struct PyArg {
  py::array array;
  ArgInfo info;
};

bool is_real_number_kind(char kind) {
  return kind == 'b' || kind == 'i' || kind == 'u' || kind == 'f';
}

// An object array of Python ints only (numpy keeps ints beyond 64 bits as
// objects): its values as float64, so that a huge number is a range error,
// not a type error. Null for any other object array (None, mixed values,
// a sparse matrix), which numpy would turn into NaN or refuse.
py::object ints_as_float64(const py::array &array) {
  for (py::handle item : array.attr("flat")) {
    if (!py::isinstance<py::int_>(item)) {
      return py::object();
    }
  }
  return array.attr("astype")("float64");
}

// A masked array with masked elements: its mask would be lost, silently,
// by the conversion to a plain array.
void refuse_masked(py::handle value, const char *name) {
  if (!py::hasattr(value, "mask")) {
    return;
  }
  py::module_ ma = py::module_::import("numpy.ma");
  if (py::bool_(ma.attr("is_masked")(value))) {
    throw py::value_error(
        std::string(name) + " is a masked array with masked elements; pass " +
        name + ".filled(value) or select the unmasked elements first");
  }
}

PyArg python_arg(py::handle value, const char *name) {
  refuse_masked(value, name);
  py::array array = py::array::ensure(value);
  if (!array) {
    return {py::array(), ArgInfo{false, false, 0, 0}};
  }
  if (array.dtype().kind() == 'O') {
    py::object converted = ints_as_float64(array);
    if (converted) {
      array = py::reinterpret_steal<py::array>(converted.release());
    }
  }
  // Rows: the first dimension; columns: the product of the others, as the
  // MATLAB/Octave hosts count them. A 0-d array is one value, a 1-D array
  // one column.
  uint64_t rows = array.ndim() == 0 ? 1 : array.shape(0);
  uint64_t cols = 1;
  for (py::ssize_t d = 1; d < array.ndim(); ++d) {
    cols *= static_cast<uint64_t>(array.shape(d));
  }
  const bool numeric = is_real_number_kind(array.dtype().kind());
  return {array, ArgInfo{numeric, array.ndim() > 2, rows, cols}};
}

// Raises a check's refusal as Python does: TypeError for the argument count
// and for arguments that are not real numbers, ValueError for the rest.
void raise_if_refused(const Refusal &refusal) {
  switch (refusal.kind) {
    case RefusalKind::none:
      return;
    case RefusalKind::arg_count:
    case RefusalKind::arg_type:
      throw py::type_error(refusal.python_text);
    case RefusalKind::arg_value:
      throw py::value_error(refusal.python_text);
  }
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

// The element at position `index` in column-major order, as a double.
double element_in_column_order(const py::array &array, py::ssize_t index) {
  if (index == 0) {
    return py::float_(array.attr("item")(0));  // first in every order
  }
  py::array flat = array.attr("ravel")("F");
  return py::float_(flat.attr("item")(index));
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

// The first `count` values (column-major) of a scalar-like argument (nbns,
// twin, ntaps) once it is real numbers with that many elements; zeros
// otherwise, which the check then refuses before they are used.
template <int count>
std::array<double, count> leading_values(const PyArg &arg) {
  std::array<double, count> values{};
  if (arg.info.numeric && element_count(arg.info) >= count) {
    for (int i = 0; i < count; ++i) {
      values[i] = element_in_column_order(arg.array, i);
    }
  }
  return values;
}

// The view of a converted argument of checked size.
DoubleMatrix view_of(const FortranArray &data, int32_t rows, int32_t cols) {
  return DoubleMatrix{rows, cols, const_cast<double *>(data.data())};
}

// A new Fortran-ordered float64 result. Zeroed for the kernels that add into
// it: numpy.zeros takes it from calloc, so a large result comes as fresh zero
// pages with no pass of its own; the upsamplers assign every element.
FortranArray new_result(int32_t rows, int32_t cols, bool zeroed) {
  if (zeroed) {
    return py::module_::import("numpy").attr("zeros")(
        py::make_tuple(rows, cols), "float64", "F");
  }
  return FortranArray(
      {static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(cols)});
}

py::array tentfill2(py::handle x_arg, py::handle nbns_arg) {
  const PyArg x = python_arg(x_arg, "x");
  const PyArg nbns = python_arg(nbns_arg, "nbns");
  const double nbns_value = leading_values<1>(nbns)[0];
  const Tentfill2Call call = tentfill2_check(2, x.info, nbns.info, nbns_value);
  raise_if_refused(call.refusal);
  const FortranArray x_data = fortran_float64(x.array);
  FortranArray result =
      new_result(call.shape.output_rows, call.input_cols, false);
  const DoubleMatrix input = view_of(x_data, call.input_rows, call.input_cols);
  const DoubleMatrix output =
      view_of(result, call.shape.output_rows, call.input_cols);
  {
    py::gil_scoped_release unlocked;
    upsample_bins(input, nbns_value, output);
  }
  return result;
}

py::array trainfold(py::handle spinds_arg, py::handle h_currents_arg,
                    py::handle twin_arg) {
  const PyArg spinds = python_arg(spinds_arg, "spinds");
  const PyArg h_currents = python_arg(h_currents_arg, "h_currents");
  const PyArg twin = python_arg(twin_arg, "twin");
  const std::array<double, 2> twin_values = leading_values<2>(twin);
  const TrainfoldCall call = trainfold_check(3, spinds.info, h_currents.info,
                                             twin.info, twin_values.data());
  raise_if_refused(call.refusal);
  const FortranArray spike_data = fortran_float64(spinds.array);
  const FortranArray filter_data = fortran_float64(h_currents.array);
  FortranArray result = new_result(call.window.rows, call.filters, true);
  const DoubleMatrix filters = view_of(filter_data, call.taps, call.filters);
  const DoubleMatrix output = view_of(result, call.window.rows, call.filters);
  {
    py::gil_scoped_release unlocked;
    advise_huge_pages(output.data, static_cast<std::size_t>(result.nbytes()));
    spike_filter_sum(spike_data.data(), call.spike_count, filters,
                     twin_values.data(), output);
  }
  return result;
}

py::array tentfill2_adjoint(py::handle r_arg, py::handle nbns_arg) {
  const PyArg r = python_arg(r_arg, "r");
  const PyArg nbns = python_arg(nbns_arg, "nbns");
  const double nbns_value = leading_values<1>(nbns)[0];
  const Tentfill2AdjointCall call =
      tentfill2_adjoint_check(2, r.info, nbns.info, nbns_value);
  raise_if_refused(call.refusal);
  const FortranArray r_data = fortran_float64(r.array);
  FortranArray result =
      new_result(call.shape.output_rows, call.input_cols, false);
  const DoubleMatrix input = view_of(r_data, call.input_rows, call.input_cols);
  const DoubleMatrix output =
      view_of(result, call.shape.output_rows, call.input_cols);
  {
    py::gil_scoped_release unlocked;
    upsample_bins_adjoint(input, nbns_value, output);
  }
  return result;
}

py::array trainfold_adjoint(py::handle spinds_arg, py::handle r_arg,
                            py::handle twin_arg, py::handle ntaps_arg) {
  const PyArg spinds = python_arg(spinds_arg, "spinds");
  const PyArg r = python_arg(r_arg, "r");
  const PyArg twin = python_arg(twin_arg, "twin");
  const PyArg ntaps = python_arg(ntaps_arg, "ntaps");
  const std::array<double, 2> twin_values = leading_values<2>(twin);
  const double ntaps_value = leading_values<1>(ntaps)[0];
  const TrainfoldAdjointCall call =
      trainfold_adjoint_check(4, spinds.info, r.info, twin.info, ntaps.info,
                              twin_values.data(), ntaps_value);
  raise_if_refused(call.refusal);
  const FortranArray spike_data = fortran_float64(spinds.array);
  const FortranArray r_data = fortran_float64(r.array);
  FortranArray result = new_result(call.shape.taps, call.input_cols, true);
  const DoubleMatrix input =
      view_of(r_data, call.shape.window.rows, call.input_cols);
  const DoubleMatrix output = view_of(result, call.shape.taps, call.input_cols);
  {
    py::gil_scoped_release unlocked;
    spike_filter_sum_adjoint(spike_data.data(), call.spike_count, input,
                             twin_values.data(), ntaps_value, output);
  }
  return result;
}

// The ids are numbered from 0 in Python.
constexpr int32_t kPythonIdBase = 0;

// The result of a population sum: a new zero-filled array, or out once it is
// known to be a writeable, aligned, Fortran-ordered float64 array of exactly
// rows x cols that shares no memory with any argument.
FortranArray result_or_out(py::handle out, int32_t rows, int32_t cols,
                           std::initializer_list<py::handle> arguments) {
  if (out.is_none()) {
    return new_result(rows, cols, true);
  }
  if (!py::isinstance<py::array>(out)) {
    throw py::type_error("out must be a numpy.ndarray of float64");
  }
  py::array array = py::reinterpret_borrow<py::array>(out);
  if (!array.dtype().equal(py::dtype::of<double>())) {
    throw py::type_error("out must have dtype float64, not " +
                         std::string(py::str(array.dtype())));
  }
  if (array.ndim() != 2 || array.shape(0) != rows || array.shape(1) != cols) {
    throw py::value_error("out must have the result's shape (" +
                          std::to_string(rows) + ", " + std::to_string(cols) +
                          ")");
  }
  constexpr int layout = py::detail::npy_api::NPY_ARRAY_F_CONTIGUOUS_ |
                         py::detail::npy_api::NPY_ARRAY_ALIGNED_;
  if (!py::detail::check_flags(array.ptr(), layout)) {
    throw py::value_error(
        "out must be an aligned array in Fortran (column-major) order");
  }
  if (!array.writeable()) {
    throw py::value_error("out is read-only");
  }
  py::object may_share = py::module_::import("numpy").attr("may_share_memory");
  for (py::handle argument : arguments) {
    if (py::bool_(may_share(out, argument))) {
      throw py::value_error("out must not share memory with an argument");
    }
  }
  return py::reinterpret_borrow<FortranArray>(out);
}

py::array trainfold_pop(py::handle spinds_arg, py::handle ids_arg,
                        py::handle h_currents_arg, py::handle twin_arg,
                        py::handle nsources_arg, py::handle out) {
  const PyArg spinds = python_arg(spinds_arg, "spinds");
  const PyArg ids = python_arg(ids_arg, "ids");
  const PyArg h_currents = python_arg(h_currents_arg, "h_currents");
  const PyArg twin = python_arg(twin_arg, "twin");
  const PyArg nsources = python_arg(nsources_arg, "nsources");
  const std::array<double, 2> twin_values = leading_values<2>(twin);
  const double nsources_value = leading_values<1>(nsources)[0];
  TrainfoldPopCall call =
      trainfold_pop_check(5, spinds.info, ids.info, h_currents.info, twin.info,
                          nsources.info, twin_values.data(), nsources_value);
  raise_if_refused(call.refusal);
  const FortranArray id_data = fortran_float64(ids.array);
  call = trainfold_pop_check_ids(call, id_data.data(), kPythonIdBase);
  raise_if_refused(call.refusal);
  FortranArray result = result_or_out(
      out, call.window.rows, call.pop.outputs,
      {spinds.array, ids.array, h_currents.array, twin.array, nsources.array});
  const FortranArray spike_data = fortran_float64(spinds.array);
  const FortranArray filter_data = fortran_float64(h_currents.array);
  const DoubleMatrix filters =
      view_of(filter_data, call.taps, call.pop.filters);
  const DoubleMatrix output =
      view_of(result, call.window.rows, call.pop.outputs);
  {
    py::gil_scoped_release unlocked;
    if (out.is_none()) {
      advise_huge_pages(output.data, static_cast<std::size_t>(result.nbytes()));
    }
    spike_filter_pop(spike_data.data(), id_data.data(), call.spike_count,
                     filters, twin_values.data(), nsources_value, kPythonIdBase,
                     output);
  }
  return result;
}

py::array trainfold_pop_adjoint(py::handle spinds_arg, py::handle ids_arg,
                                py::handle r_arg, py::handle twin_arg,
                                py::handle ntaps_arg, py::handle nsources_arg,
                                py::handle out) {
  const PyArg spinds = python_arg(spinds_arg, "spinds");
  const PyArg ids = python_arg(ids_arg, "ids");
  const PyArg r = python_arg(r_arg, "r");
  const PyArg twin = python_arg(twin_arg, "twin");
  const PyArg ntaps = python_arg(ntaps_arg, "ntaps");
  const PyArg nsources = python_arg(nsources_arg, "nsources");
  const std::array<double, 2> twin_values = leading_values<2>(twin);
  const double ntaps_value = leading_values<1>(ntaps)[0];
  const double nsources_value = leading_values<1>(nsources)[0];
  TrainfoldPopAdjointCall call = trainfold_pop_adjoint_check(
      6, spinds.info, ids.info, r.info, twin.info, ntaps.info, nsources.info,
      twin_values.data(), ntaps_value, nsources_value);
  raise_if_refused(call.refusal);
  const FortranArray id_data = fortran_float64(ids.array);
  call = trainfold_pop_adjoint_check_ids(call, id_data.data(), kPythonIdBase);
  raise_if_refused(call.refusal);
  FortranArray result =
      result_or_out(out, call.shape.taps, call.pop.filters,
                    {spinds.array, ids.array, r.array, twin.array, ntaps.array,
                     nsources.array});
  const FortranArray spike_data = fortran_float64(spinds.array);
  const FortranArray r_data = fortran_float64(r.array);
  const DoubleMatrix input =
      view_of(r_data, call.shape.window.rows, call.pop.outputs);
  const DoubleMatrix output =
      view_of(result, call.shape.taps, call.pop.filters);
  {
    py::gil_scoped_release unlocked;
    spike_filter_pop_adjoint(
        spike_data.data(), id_data.data(), call.spike_count, input,
        twin_values.data(), ntaps_value, nsources_value, kPythonIdBase, output);
  }
  return result;
}

// A targets-major argument (one row per target): a 1-D array is one target,
// a single row, where the other modules take it as one column. The data is
// the same either way.
PyArg one_row_if_flat(PyArg arg) {
  if (arg.array && arg.array.ndim() == 1) {
    arg.info.cols = arg.info.rows;
    arg.info.rows = 1;
  }
  return arg;
}

py::array trainfold_multi(py::handle spinds_arg, py::handle ids_arg,
                          py::handle h_currents_arg, py::handle twin_arg,
                          py::handle nsources_arg, py::handle out) {
  const PyArg spinds = python_arg(spinds_arg, "spinds");
  const PyArg ids = python_arg(ids_arg, "ids");
  const PyArg h_currents =
      one_row_if_flat(python_arg(h_currents_arg, "h_currents"));
  const PyArg twin = python_arg(twin_arg, "twin");
  const PyArg nsources = python_arg(nsources_arg, "nsources");
  const std::array<double, 2> twin_values = leading_values<2>(twin);
  const double nsources_value = leading_values<1>(nsources)[0];
  TrainfoldMultiCall call = trainfold_multi_check(
      5, spinds.info, ids.info, h_currents.info, twin.info, nsources.info,
      twin_values.data(), nsources_value);
  raise_if_refused(call.refusal);
  const FortranArray id_data = fortran_float64(ids.array);
  call = trainfold_multi_check_ids(call, id_data.data(), kPythonIdBase);
  raise_if_refused(call.refusal);
  FortranArray result = result_or_out(
      out, call.targets, call.window.rows,
      {spinds.array, ids.array, h_currents.array, twin.array, nsources.array});
  const FortranArray spike_data = fortran_float64(spinds.array);
  const FortranArray filter_data = fortran_float64(h_currents.array);
  const DoubleMatrix filters =
      view_of(filter_data, call.targets, call.multi.columns);
  const DoubleMatrix output = view_of(result, call.targets, call.window.rows);
  {
    py::gil_scoped_release unlocked;
    if (out.is_none()) {
      advise_huge_pages(output.data, static_cast<std::size_t>(result.nbytes()));
    }
    spike_filter_multi(spike_data.data(), id_data.data(), call.spike_count,
                       filters, twin_values.data(), nsources_value,
                       kPythonIdBase, output);
  }
  return result;
}

py::array trainfold_multi_adjoint(py::handle spinds_arg, py::handle ids_arg,
                                  py::handle r_arg, py::handle twin_arg,
                                  py::handle ntaps_arg, py::handle nsources_arg,
                                  py::handle out) {
  const PyArg spinds = python_arg(spinds_arg, "spinds");
  const PyArg ids = python_arg(ids_arg, "ids");
  const PyArg r = one_row_if_flat(python_arg(r_arg, "r"));
  const PyArg twin = python_arg(twin_arg, "twin");
  const PyArg ntaps = python_arg(ntaps_arg, "ntaps");
  const PyArg nsources = python_arg(nsources_arg, "nsources");
  const std::array<double, 2> twin_values = leading_values<2>(twin);
  const double ntaps_value = leading_values<1>(ntaps)[0];
  const double nsources_value = leading_values<1>(nsources)[0];
  TrainfoldMultiAdjointCall call = trainfold_multi_adjoint_check(
      6, spinds.info, ids.info, r.info, twin.info, ntaps.info, nsources.info,
      twin_values.data(), ntaps_value, nsources_value);
  raise_if_refused(call.refusal);
  const FortranArray id_data = fortran_float64(ids.array);
  call = trainfold_multi_adjoint_check_ids(call, id_data.data(), kPythonIdBase);
  raise_if_refused(call.refusal);
  FortranArray result =
      result_or_out(out, call.targets, call.multi.columns,
                    {spinds.array, ids.array, r.array, twin.array, ntaps.array,
                     nsources.array});
  const FortranArray spike_data = fortran_float64(spinds.array);
  const FortranArray r_data = fortran_float64(r.array);
  const DoubleMatrix input =
      view_of(r_data, call.targets, call.shape.window.rows);
  const DoubleMatrix output = view_of(result, call.targets, call.multi.columns);
  {
    py::gil_scoped_release unlocked;
    spike_filter_multi_adjoint(
        spike_data.data(), id_data.data(), call.spike_count, input,
        twin_values.data(), ntaps_value, nsources_value, kPythonIdBase, output);
  }
  return result;
}

// rate_exp's result: a new array of eta's shape (0-d, 1-D or 2-D), or out
// once it is a writeable, aligned, Fortran-ordered float64 array of that
// shape that is eta's converted data itself (exp in place) or shares no
// memory with it.
FortranArray exp_result_or_out(py::handle out, const py::array &eta,
                               const FortranArray &eta_data) {
  std::vector<py::ssize_t> shape(eta.shape(), eta.shape() + eta.ndim());
  if (out.is_none()) {
    return FortranArray(shape);
  }
  if (!py::isinstance<py::array>(out)) {
    throw py::type_error("out must be a numpy.ndarray of float64");
  }
  py::array array = py::reinterpret_borrow<py::array>(out);
  if (!array.dtype().equal(py::dtype::of<double>())) {
    throw py::type_error("out must have dtype float64, not " +
                         std::string(py::str(array.dtype())));
  }
  std::vector<py::ssize_t> out_shape(array.shape(),
                                     array.shape() + array.ndim());
  if (out_shape != shape) {
    throw py::value_error("out must have eta's shape " +
                          std::string(py::str(eta.attr("shape"))));
  }
  constexpr int layout = py::detail::npy_api::NPY_ARRAY_F_CONTIGUOUS_ |
                         py::detail::npy_api::NPY_ARRAY_ALIGNED_;
  if (!py::detail::check_flags(array.ptr(), layout)) {
    throw py::value_error(
        "out must be an aligned array in Fortran (column-major) order");
  }
  if (!array.writeable()) {
    throw py::value_error("out is read-only");
  }
  const bool in_place = array.size() > 0 && array.data() == eta_data.data();
  py::object may_share = py::module_::import("numpy").attr("may_share_memory");
  if (!in_place && py::bool_(may_share(out, eta))) {
    throw py::value_error(
        "out must be eta itself (exp in place) or share no memory with it");
  }
  return py::reinterpret_borrow<FortranArray>(out);
}

py::array rate_exp(py::handle eta_arg, py::handle out) {
  const PyArg eta = python_arg(eta_arg, "eta");
  const RateExpCall call = rate_exp_check(1, eta.info, false);
  raise_if_refused(call.refusal);
  const FortranArray eta_data = fortran_float64(eta.array);
  FortranArray result = exp_result_or_out(out, eta.array, eta_data);
  const DoubleMatrix input =
      view_of(eta_data, call.shape.rows, call.shape.cols);
  const DoubleMatrix output = view_of(result, call.shape.rows, call.shape.cols);
  {
    py::gil_scoped_release unlocked;
    portable_exp(input, output);
  }
  return result;
}

}  // namespace

PYBIND11_MODULE(_kernels, module) {
  module.doc() =
      "spike_bins' compiled kernels: bin-centred upsampling (tentfill2), "
      "windowed and population spike-train filter sums (trainfold, "
      "trainfold_pop, trainfold_multi), their adjoints and a portable "
      "exponential (rate_exp), bit-identical to "
      "the "
      "MATLAB/Octave modules of spike_bins.";
  module.def("tentfill2", &tentfill2, py::arg("x"), py::arg("nbns"));
  module.def("trainfold", &trainfold, py::arg("spinds"), py::arg("h_currents"),
             py::arg("twin"));
  module.def("tentfill2_adjoint", &tentfill2_adjoint, py::arg("r"),
             py::arg("nbns"));
  module.def("trainfold_adjoint", &trainfold_adjoint, py::arg("spinds"),
             py::arg("r"), py::arg("twin"), py::arg("ntaps"));
  module.def("trainfold_pop", &trainfold_pop, py::arg("spinds"), py::arg("ids"),
             py::arg("h_currents"), py::arg("twin"), py::arg("nsources"),
             py::arg("out") = py::none());
  module.def("trainfold_pop_adjoint", &trainfold_pop_adjoint, py::arg("spinds"),
             py::arg("ids"), py::arg("r"), py::arg("twin"), py::arg("ntaps"),
             py::arg("nsources"), py::arg("out") = py::none());
  module.def("trainfold_multi", &trainfold_multi, py::arg("spinds"),
             py::arg("ids"), py::arg("h_currents"), py::arg("twin"),
             py::arg("nsources"), py::arg("out") = py::none());
  module.def("trainfold_multi_adjoint", &trainfold_multi_adjoint,
             py::arg("spinds"), py::arg("ids"), py::arg("r"), py::arg("twin"),
             py::arg("ntaps"), py::arg("nsources"),
             py::arg("out") = py::none());
  module.def("rate_exp", &rate_exp, py::arg("eta"),
             py::arg("out") = py::none());
}
