// The shared argument checks, host-free: one row per refusal, in the order
// the checks apply them, with the texts each host raises. The hosts' own
// tests check that they raise these texts their own way.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rate/rate_exp_check.h"
#include "spike_filter/trainfold_adjoint_check.h"
#include "spike_filter/trainfold_check.h"
#include "spike_filter/trainfold_pop_adjoint_check.h"
#include "spike_filter/trainfold_pop_check.h"
#include "upsampler/tentfill2_adjoint_check.h"
#include "upsampler/tentfill2_check.h"

using namespace spike_bins;

namespace {

constexpr uint64_t kTwo31 = uint64_t{1} << 31;
const ArgInfo kColumn{true, false, 3, 1};
const ArgInfo kScalar{true, false, 1, 1};
const ArgInfo kPair{true, false, 1, 2};
const ArgInfo kText{false, false, 1, 3};
const ArgInfo kEmpty{true, false, 0, 0};
const ArgInfo kCube{true, true, 2, 4};

struct CheckCase {
  const char *name;
  Refusal refusal;
  RefusalKind kind;
  const char *mex_text;
  const char *python_text;  // null: the same as mex_text
};

Refusal tentfill2_refusal(int count, ArgInfo x, ArgInfo nbns, double value) {
  return tentfill2_check(count, x, nbns, value).refusal;
}

Refusal trainfold_refusal(int count, ArgInfo spinds, ArgInfo h, ArgInfo twin,
                          double first, double last) {
  const double values[2] = {first, last};
  return trainfold_check(count, spinds, h, twin, values).refusal;
}

Refusal up_adjoint_refusal(int count, ArgInfo r, ArgInfo nbns, double value) {
  return tentfill2_adjoint_check(count, r, nbns, value).refusal;
}

Refusal sp_adjoint_refusal(int count, ArgInfo spinds, ArgInfo r, ArgInfo twin,
                           ArgInfo ntaps, double first, double last,
                           double taps) {
  const double values[2] = {first, last};
  return trainfold_adjoint_check(count, spinds, r, twin, ntaps, values, taps)
      .refusal;
}

// Both steps of trainfold_pop's check, with ids {base, base, id}.
Refusal pop_refusal(int count, ArgInfo spinds, ArgInfo ids, ArgInfo h,
                    ArgInfo twin, ArgInfo nsources, double last, double sources,
                    double id = 2, int32_t base = 1) {
  const double values[2] = {0, last};
  const double id_values[3] = {static_cast<double>(base),
                               static_cast<double>(base), id};
  const TrainfoldPopCall call = trainfold_pop_check(count, spinds, ids, h, twin,
                                                    nsources, values, sources);
  return trainfold_pop_check_ids(call, id_values, base).refusal;
}

Refusal pop_adjoint_refusal(int count, ArgInfo spinds, ArgInfo ids, ArgInfo r,
                            ArgInfo twin, ArgInfo ntaps, ArgInfo nsources,
                            double last, double taps, double sources,
                            double id = 2, int32_t base = 1) {
  const double values[2] = {0, last};
  const double id_values[3] = {static_cast<double>(base),
                               static_cast<double>(base), id};
  const TrainfoldPopAdjointCall call = trainfold_pop_adjoint_check(
      count, spinds, ids, r, twin, ntaps, nsources, values, taps, sources);
  return trainfold_pop_adjoint_check_ids(call, id_values, base).refusal;
}

std::vector<CheckCase> pop_cases() {
  const RefusalKind count = RefusalKind::arg_count;
  const RefusalKind type = RefusalKind::arg_type;
  const RefusalKind value = RefusalKind::arg_value;
  const ArgInfo row{true, false, 1, 3};
  const ArgInfo big{true, false, kTwo31, 1};
  const ArgInfo h4{true, false, 2, 4};  // 2 sources x 2 outputs
  const ArgInfo r3{true, false, 3, 2};  // window 0 .. 2, 2 columns
  const ArgInfo kNoColumnText{false, false, 3, 1};
  const char *bad_id_mex =
      "ids must be whole numbers from 1 to nsources (not NaN or Inf)";
  const char *bad_id_python =
      "ids must be whole numbers from 0 to nsources - 1 (not NaN or Inf)";
  return {
      {"pop count", pop_refusal(4, row, row, kText, kText, kText, 2, 2), count,
       "trainfold_pop needs 5 input args: spinds, ids, h_currents, twin, "
       "nsources",
       "trainfold_pop() takes 5 arguments: spinds, ids, h_currents, twin, "
       "nsources"},
      {"pop spinds column first",
       pop_refusal(5, row, row, kText, kText, kText, 2, 2), value,
       "spinds must be a column vector of spike times (one column)",
       "spinds must be a 1-D array or a single column of spike times"},
      {"ids column before types",
       pop_refusal(5, kNoColumnText, row, kText, kText, kText, 2, 2), value,
       "ids must be a column vector of source numbers (one column)",
       "ids must be a 1-D array or a single column of source numbers"},
      {"ids type",
       pop_refusal(5, kColumn, {false, false, 3, 1}, kText, kText, kText, 2, 2),
       type, "ids must be a full (non-sparse) double array",
       "ids must be an array of real numbers (bool, integer or float; not "
       "complex, text, objects or a sparse matrix)"},
      {"pop h type",
       pop_refusal(5, kColumn, kColumn, kText, kText, kText, 2, 2), type,
       "h_currents must be a full (non-sparse) double array",
       "h_currents must be an array of real numbers (bool, integer or float; "
       "not complex, text, objects or a sparse matrix)"},
      {"nsources type",
       pop_refusal(5, kColumn, kColumn, kCube, kScalar, kText, 2, 2), type,
       "nsources must be a full (non-sparse) double array",
       "nsources must be a real number (bool, integer or float; not complex, "
       "text or objects)"},
      {"pop twin count",
       pop_refusal(5, kColumn, kColumn, kCube, kScalar, kEmpty, 2, 2), value,
       "twin must hold two values, the first and last bin of the window",
       nullptr},
      {"nsources empty",
       pop_refusal(5, kColumn, kColumn, kCube, kPair, kEmpty, 2, 2), value,
       "nsources is empty; it must hold the number of source neurons", nullptr},
      {"pop h dims", pop_refusal(5, kColumn, big, kCube, kPair, kScalar, 2, 2),
       value,
       "h_currents must have at most 2 dimensions (a 1-D h_currents is one "
       "filter)",
       nullptr},
      {"pop sizes", pop_refusal(5, kColumn, big, h4, kPair, kScalar, 2, 2),
       value,
       "spinds, ids or h_currents has more than 2^31 - 1 rows or columns",
       nullptr},
      {"ids length before window",
       pop_refusal(5, kColumn, {true, false, 2, 1}, h4, kPair, kScalar, -5, 2),
       value,
       "ids must hold one source number per spike time (as many elements as "
       "spinds)",
       nullptr},
      {"pop window before nsources",
       pop_refusal(5, kColumn, kColumn, h4, kPair, kScalar, -5, 0.5), value,
       "twin(2) must be at least twin(1) - 1 (the window would have a "
       "negative number of rows)",
       "twin[1] must be at least twin[0] - 1 (the window would have a "
       "negative number of rows)"},
      {"nsources range",
       pop_refusal(5, kColumn, kColumn, h4, kPair, kScalar, 2, 0.5), value,
       "nsources must be a whole number from 1 to 2^31 - 1 (not fractional, "
       "NaN or Inf)",
       nullptr},
      {"nsources 2^31",
       pop_refusal(5, kColumn, kColumn, h4, kPair, kScalar, 2, 2147483648.0),
       value,
       "nsources must be a whole number from 1 to 2^31 - 1 (not fractional, "
       "NaN or Inf)",
       nullptr},
      {"h columns not a multiple",
       pop_refusal(5, kColumn, kColumn, h4, kPair, kScalar, 2, 3, 0.0 / 0.0),
       value,
       "h_currents must hold nsources filters per output column: its column "
       "count must be a multiple of nsources",
       nullptr},
      {"id NaN",
       pop_refusal(5, kColumn, kColumn, h4, kPair, kScalar, 2, 2, 0.0 / 0.0),
       value, bad_id_mex, bad_id_python},
      {"id past nsources",
       pop_refusal(5, kColumn, kColumn, h4, kPair, kScalar, 2, 2, 3), value,
       bad_id_mex, bad_id_python},
      {"id fractional",
       pop_refusal(5, kColumn, kColumn, h4, kPair, kScalar, 2, 2, 1.5), value,
       bad_id_mex, bad_id_python},
      {"id below the base 1",
       pop_refusal(5, kColumn, kColumn, h4, kPair, kScalar, 2, 2, 0), value,
       bad_id_mex, bad_id_python},
      {"id past nsources from base 0",
       pop_refusal(5, kColumn, kColumn, h4, kPair, kScalar, 2, 2, 2, 0), value,
       bad_id_mex, bad_id_python},
      {"pop too large",
       pop_refusal(5, kColumn, kColumn, {true, false, 2, kTwo31 - 2}, kPair,
                   kScalar, 2147483646, 2),
       value,
       "the result would be larger than this process can address (rows x "
       "columns x 8 bytes)",
       nullptr},
      {"pop accepted from base 0",
       pop_refusal(5, kColumn, kColumn, h4, kPair, kScalar, 2, 4, 0, 0),
       RefusalKind::none, "", ""},
      {"pop accepted",
       pop_refusal(5, kColumn, kColumn, h4, kPair, kScalar, 2, 2),
       RefusalKind::none, "", ""},
      {"pop adjoint count",
       pop_adjoint_refusal(5, row, row, kText, kText, kText, kText, 2, 1, 2),
       count,
       "trainfold_pop_adjoint needs 6 input args: spinds, ids, r, twin, "
       "ntaps, nsources",
       "trainfold_pop_adjoint() takes 6 arguments: spinds, ids, r, twin, "
       "ntaps, nsources"},
      {"pop adjoint ids column",
       pop_adjoint_refusal(6, kNoColumnText, row, kText, kText, kText, kText, 2,
                           1, 2),
       value, "ids must be a column vector of source numbers (one column)",
       "ids must be a 1-D array or a single column of source numbers"},
      {"pop adjoint r type",
       pop_adjoint_refusal(6, kColumn, kColumn, kText, kText, kText, kText, 2,
                           1, 2),
       type, "r must be a full (non-sparse) double array",
       "r must be an array of real numbers (bool, integer or float; not "
       "complex, text, objects or a sparse matrix)"},
      {"pop adjoint nsources type",
       pop_adjoint_refusal(6, kColumn, kColumn, kCube, kScalar, kScalar, kText,
                           2, 1, 2),
       type, "nsources must be a full (non-sparse) double array",
       "nsources must be a real number (bool, integer or float; not complex, "
       "text or objects)"},
      {"pop adjoint ntaps empty first",
       pop_adjoint_refusal(6, kColumn, kColumn, kCube, kPair, kEmpty, kEmpty, 2,
                           1, 2),
       value, "ntaps is empty; it must hold the number of filter taps",
       nullptr},
      {"pop adjoint nsources empty",
       pop_adjoint_refusal(6, kColumn, kColumn, kCube, kPair, kScalar, kEmpty,
                           2, 1, 2),
       value, "nsources is empty; it must hold the number of source neurons",
       nullptr},
      {"pop adjoint r dims",
       pop_adjoint_refusal(6, kColumn, big, kCube, kPair, kScalar, kScalar, 2,
                           1, 2),
       value, "r must have at most 2 dimensions (a 1-D r is one column)",
       nullptr},
      {"pop adjoint sizes",
       pop_adjoint_refusal(6, kColumn, big, r3, kPair, kScalar, kScalar, 2, 1,
                           2),
       value, "spinds, ids or r has more than 2^31 - 1 rows or columns",
       nullptr},
      {"pop adjoint ids length",
       pop_adjoint_refusal(6, kColumn, kScalar, r3, kPair, kScalar, kScalar, 2,
                           1, 2),
       value,
       "ids must hold one source number per spike time (as many elements as "
       "spinds)",
       nullptr},
      {"pop adjoint ntaps before r rows",
       pop_adjoint_refusal(6, kColumn, kColumn, r3, kPair, kScalar, kScalar, 3,
                           -1, 0.5),
       value,
       "ntaps must be a whole number from 0 to 2^31 - 1 (not negative, "
       "fractional, NaN or Inf)",
       nullptr},
      {"pop adjoint r rows before nsources",
       pop_adjoint_refusal(6, kColumn, kColumn, r3, kPair, kScalar, kScalar, 3,
                           1, 0.5),
       value,
       "r must have one row per bin of the window: fix(twin(2)) - fix(twin(1)) "
       "+ 1 rows",
       "r must have one row per bin of the window: int(twin[1]) - int(twin[0]) "
       "+ 1 rows"},
      {"pop adjoint nsources range",
       pop_adjoint_refusal(6, kColumn, kColumn, r3, kPair, kScalar, kScalar, 2,
                           1, 1.0 / 0.0),
       value,
       "nsources must be a whole number from 1 to 2^31 - 1 (not fractional, "
       "NaN or Inf)",
       nullptr},
      {"pop adjoint result columns before ids",
       pop_adjoint_refusal(6, kColumn, kColumn, {true, false, 3, 1 << 20},
                           kPair, kScalar, kScalar, 2, 1, 4096, 0.0 / 0.0),
       value,
       "the result would have more than 2^31 - 1 columns (nsources * size(r, "
       "2))",
       "the result would have more than 2^31 - 1 columns (nsources * "
       "r.shape[1])"},
      {"pop adjoint id",
       pop_adjoint_refusal(6, kColumn, kColumn, r3, kPair, kScalar, kScalar, 2,
                           1, 2, 1.0 / 0.0),
       value, bad_id_mex, bad_id_python},
      {"pop adjoint too large",
       pop_adjoint_refusal(6, kColumn, kColumn, {true, false, 3, 1 << 30},
                           kPair, kScalar, kScalar, 2, 2147483647, 1, 1),
       value,
       "the result would be larger than this process can address (rows x "
       "columns x 8 bytes)",
       nullptr},
      {"pop adjoint accepted",
       pop_adjoint_refusal(6, kColumn, kColumn, r3, kPair, kScalar, kScalar, 2,
                           1, 2),
       RefusalKind::none, "", ""},
  };
}

std::vector<CheckCase> cases() {
  const RefusalKind count = RefusalKind::arg_count;
  const RefusalKind type = RefusalKind::arg_type;
  const RefusalKind value = RefusalKind::arg_value;
  const char *too_large =
      "the result would be larger than this process can address (rows x "
      "columns x 8 bytes)";
  const ArgInfo wide_x{true, false, 1, kTwo31 - 1};
  const ArgInfo wide_h{true, false, 0, kTwo31 - 1};
  return {
      {"tentfill2 count", tentfill2_refusal(3, kText, kText, 0), count,
       "tentfill needs 2 input args: x, nbns",
       "tentfill2() takes 2 arguments: x, nbns"},
      {"x type first", tentfill2_refusal(2, kText, kText, 0), type,
       "x must be a full (non-sparse) double array",
       "x must be an array of real numbers (bool, integer or float; not "
       "complex, text, objects or a sparse matrix)"},
      {"nbns type", tentfill2_refusal(2, kCube, kText, 0), type,
       "nbns must be a full (non-sparse) double array",
       "nbns must be a real number (bool, integer or float; not complex, text "
       "or objects)"},
      {"nbns empty before x dims", tentfill2_refusal(2, kCube, kEmpty, 0),
       value,
       "nbns is empty; it must hold the number of fine bins per coarse "
       "bin",
       nullptr},
      {"x dims", tentfill2_refusal(2, kCube, kScalar, 0.0 / 0.0), value,
       "x must have at most 2 dimensions (a 1-D x is one column)", nullptr},
      {"x size", tentfill2_refusal(2, {true, false, kTwo31, 0}, kScalar, 2),
       value, "x has more than 2^31 - 1 rows or columns", nullptr},
      {"nbns range", tentfill2_refusal(2, kColumn, kScalar, -1), value,
       "nbns must be a number greater than -1 and less than 2^31 (not NaN or "
       "Inf)",
       nullptr},
      {"rows", tentfill2_refusal(2, {true, false, 65536, 1}, kScalar, 32768),
       value,
       "the result would have more than 2^31 - 1 rows (size(x, 1) * "
       "fix(nbns))",
       "the result would have more than 2^31 - 1 rows (x.shape[0] * "
       "int(nbns))"},
      {"tentfill2 too large", tentfill2_refusal(2, wide_x, kScalar, 2147483647),
       value, too_large, nullptr},
      // 2^24 doubles: addressable by 32-bit processes too.
      {"tentfill2 large but addressable",
       tentfill2_refusal(2, {true, false, 1, uint64_t{1} << 20}, kScalar, 16),
       RefusalKind::none, "", ""},
      {"trainfold count", trainfold_refusal(2, kText, kText, kText, 0, 0),
       count, "needs 3 input args:  trainfold_mex(spinds, h_currents, twin)",
       "trainfold() takes 3 arguments: spinds, h_currents, twin"},
      {"column before class",
       trainfold_refusal(3, {false, false, 0, 2}, kText, kText, 0, 0), value,
       "trainfold_mex: Spike Times Must Be Passed in As a COLUMN Vector!!",
       "spinds must be a 1-D array or a single column of spike times"},
      {"column in the host's width",
       trainfold_refusal(3, {true, false, 1, uint64_t{1} << 32}, kColumn, kPair,
                         0, 5),
       value,
       "trainfold_mex: Spike Times Must Be Passed in As a COLUMN Vector!!",
       "spinds must be a 1-D array or a single column of spike times"},
      {"spinds type",
       trainfold_refusal(3, {false, false, 3, 1}, kText, kText, 0, 0), type,
       "spinds must be a full (non-sparse) double array",
       "spinds must be an array of real numbers (bool, integer or float; not "
       "complex, text, objects or a sparse matrix)"},
      {"h_currents type", trainfold_refusal(3, kColumn, kText, kText, 0, 0),
       type, "h_currents must be a full (non-sparse) double array",
       "h_currents must be an array of real numbers (bool, integer or float; "
       "not complex, text, objects or a sparse matrix)"},
      {"twin type", trainfold_refusal(3, kColumn, kCube, kText, 0, 0), type,
       "twin must be a full (non-sparse) double array",
       "twin must be an array of real numbers (bool, integer or float; not "
       "complex, text or objects)"},
      {"twin count", trainfold_refusal(3, kColumn, kCube, kScalar, 0, 0), value,
       "twin must hold two values, the first and last bin of the window",
       nullptr},
      {"h_currents dims", trainfold_refusal(3, kColumn, kCube, kPair, 0, 0),
       value,
       "h_currents must have at most 2 dimensions (a 1-D h_currents is one "
       "filter)",
       nullptr},
      {"sizes before twin values",
       trainfold_refusal(3, {true, false, kTwo31, 1}, kColumn, kPair, 0.0 / 0.0,
                         0),
       value, "spinds or h_currents has more than 2^31 - 1 rows or columns",
       nullptr},
      {"twin range", trainfold_refusal(3, kColumn, kColumn, kPair, 0, 2.0e10),
       value,
       "twin values must be numbers within the 32-bit integer range (not NaN "
       "or Inf)",
       nullptr},
      {"twin order", trainfold_refusal(3, kColumn, kColumn, kPair, 5, 3), value,
       "twin(2) must be at least twin(1) - 1 (the window would have a "
       "negative number of rows)",
       "twin[1] must be at least twin[0] - 1 (the window would have a "
       "negative number of rows)"},
      {"window", trainfold_refusal(3, kColumn, kColumn, kPair, -1, 2147483646),
       value, "the window twin(1) .. twin(2) has more than 2^31 - 1 bins",
       "the window twin[0] .. twin[1] has more than 2^31 - 1 bins"},
      {"trainfold too large",
       trainfold_refusal(3, kColumn, wide_h, kPair, 0, 2147483646), value,
       too_large, nullptr},
      // tentfill2_adjoint(r, nbns); r of 6 x 1 where it gets that far.
      {"up adjoint count", up_adjoint_refusal(1, kText, kText, 0), count,
       "tentfill2_adjoint needs 2 input args: r, nbns",
       "tentfill2_adjoint() takes 2 arguments: r, nbns"},
      {"r type first", up_adjoint_refusal(2, kText, kText, 0), type,
       "r must be a full (non-sparse) double array",
       "r must be an array of real numbers (bool, integer or float; not "
       "complex, text, objects or a sparse matrix)"},
      {"adjoint nbns type", up_adjoint_refusal(2, kCube, kText, 0), type,
       "nbns must be a full (non-sparse) double array",
       "nbns must be a real number (bool, integer or float; not complex, text "
       "or objects)"},
      {"adjoint nbns empty", up_adjoint_refusal(2, kCube, kEmpty, 0), value,
       "nbns is empty; it must hold the number of fine bins per coarse bin",
       nullptr},
      {"r dims", up_adjoint_refusal(2, kCube, kScalar, 0), value,
       "r must have at most 2 dimensions (a 1-D r is one column)", nullptr},
      {"r size", up_adjoint_refusal(2, {true, false, 0, kTwo31}, kScalar, 0.5),
       value, "r has more than 2^31 - 1 rows or columns", nullptr},
      {"adjoint nbns below 1",
       up_adjoint_refusal(2, {true, false, 6, 1}, kScalar, 0.9999999999999999),
       value,
       "nbns must be a number of at least 1 and less than 2^31 (not NaN or "
       "Inf)",
       nullptr},
      {"r rows", up_adjoint_refusal(2, {true, false, 6, 1}, kScalar, 4), value,
       "r must have a multiple of fix(nbns) rows (tentfill2's result has "
       "size(x, 1) * fix(nbns))",
       "r must have a multiple of int(nbns) rows (tentfill2's result has "
       "x.shape[0] * int(nbns))"},
      {"up adjoint accepted",
       up_adjoint_refusal(2, {true, false, 6, 1}, kScalar, 3.5),
       RefusalKind::none, "", ""},
      // trainfold_adjoint(spinds, r, twin, ntaps); window 0 .. 2 (3 rows).
      {"sp adjoint count",
       sp_adjoint_refusal(3, kText, kText, kText, kText, 0, 2, 1), count,
       "trainfold_adjoint needs 4 input args: spinds, r, twin, ntaps",
       "trainfold_adjoint() takes 4 arguments: spinds, r, twin, ntaps"},
      {"adjoint column before class",
       sp_adjoint_refusal(4, {false, false, 0, 2}, kText, kText, kText, 0, 2,
                          1),
       value, "spinds must be a column vector of spike times (one column)",
       "spinds must be a 1-D array or a single column of spike times"},
      {"adjoint spinds type",
       sp_adjoint_refusal(4, {false, false, 3, 1}, kText, kText, kText, 0, 2,
                          1),
       type, "spinds must be a full (non-sparse) double array",
       "spinds must be an array of real numbers (bool, integer or float; not "
       "complex, text, objects or a sparse matrix)"},
      {"adjoint r type",
       sp_adjoint_refusal(4, kColumn, kText, kText, kText, 0, 2, 1), type,
       "r must be a full (non-sparse) double array",
       "r must be an array of real numbers (bool, integer or float; not "
       "complex, text, objects or a sparse matrix)"},
      {"adjoint twin type",
       sp_adjoint_refusal(4, kColumn, kCube, kText, kText, 0, 2, 1), type,
       "twin must be a full (non-sparse) double array",
       "twin must be an array of real numbers (bool, integer or float; not "
       "complex, text or objects)"},
      {"ntaps type",
       sp_adjoint_refusal(4, kColumn, kCube, kScalar, kText, 0, 2, 1), type,
       "ntaps must be a full (non-sparse) double array",
       "ntaps must be a real number (bool, integer or float; not complex, "
       "text or objects)"},
      {"adjoint twin count",
       sp_adjoint_refusal(4, kColumn, kCube, kScalar, kEmpty, 0, 2, 1), value,
       "twin must hold two values, the first and last bin of the window",
       nullptr},
      {"ntaps empty",
       sp_adjoint_refusal(4, kColumn, kCube, kPair, kEmpty, 0, 2, 1), value,
       "ntaps is empty; it must hold the number of filter taps", nullptr},
      {"adjoint r dims",
       sp_adjoint_refusal(4, kColumn, kCube, kPair, kScalar, 0, 2, 1), value,
       "r must have at most 2 dimensions (a 1-D r is one column)", nullptr},
      {"adjoint sizes",
       sp_adjoint_refusal(4, kColumn, {true, false, kTwo31, 1}, kPair, kScalar,
                          0.0 / 0.0, 2, 1),
       value, "spinds or r has more than 2^31 - 1 rows or columns", nullptr},
      {"adjoint twin range",
       sp_adjoint_refusal(4, kColumn, kColumn, kPair, kScalar, 0, 2.0e10,
                          0.0 / 0.0),
       value,
       "twin values must be numbers within the 32-bit integer range (not NaN "
       "or Inf)",
       nullptr},
      {"adjoint twin order",
       sp_adjoint_refusal(4, kColumn, kColumn, kPair, kScalar, 5, 3, 1), value,
       "twin(2) must be at least twin(1) - 1 (the window would have a "
       "negative number of rows)",
       "twin[1] must be at least twin[0] - 1 (the window would have a "
       "negative number of rows)"},
      {"adjoint window",
       sp_adjoint_refusal(4, kColumn, kColumn, kPair, kScalar, -1, 2147483646,
                          1),
       value, "the window twin(1) .. twin(2) has more than 2^31 - 1 bins",
       "the window twin[0] .. twin[1] has more than 2^31 - 1 bins"},
      {"ntaps before r rows",
       sp_adjoint_refusal(4, kColumn, {true, false, 5, 1}, kPair, kScalar, 0, 2,
                          2.5),
       value,
       "ntaps must be a whole number from 0 to 2^31 - 1 (not negative, "
       "fractional, NaN or Inf)",
       nullptr},
      {"adjoint r rows",
       sp_adjoint_refusal(4, kColumn, {true, false, 5, 1}, kPair, kScalar, 0, 2,
                          2),
       value,
       "r must have one row per bin of the window: fix(twin(2)) - fix(twin(1)) "
       "+ 1 rows",
       "r must have one row per bin of the window: int(twin[1]) - int(twin[0]) "
       "+ 1 rows"},
      {"sp adjoint too large",
       sp_adjoint_refusal(4, kColumn, {true, false, 3, kTwo31 - 1}, kPair,
                          kScalar, 0, 2, 2147483647),
       value, too_large, nullptr},
      {"sp adjoint accepted",
       sp_adjoint_refusal(4, kEmpty, kColumn, kPair, kScalar, 0, 2, 0),
       RefusalKind::none, "", ""},
  };
}

Refusal exp_refusal(int count, ArgInfo eta, bool eta_complex = false) {
  return rate_exp_check(count, eta, eta_complex).refusal;
}

// rate_exp: the count, then the type before complexity (a complex sparse
// array is a type refusal), the dims and the size.
std::vector<CheckCase> exp_cases() {
  const RefusalKind type = RefusalKind::arg_type;
  const RefusalKind value = RefusalKind::arg_value;
  const char *real_text =
      "eta must be real: the exponential of a complex value is not that of "
      "its real part";
  return {
      {"exp count none", exp_refusal(0, kText), RefusalKind::arg_count,
       "rate_exp needs 1 input args: eta", "rate_exp() takes 1 arguments: eta"},
      {"exp count two", exp_refusal(2, kColumn), RefusalKind::arg_count,
       "rate_exp needs 1 input args: eta", "rate_exp() takes 1 arguments: eta"},
      {"eta type before complex", exp_refusal(1, kText, true), type,
       "eta must be a full (non-sparse) double array",
       "eta must be an array of real numbers (bool, integer or float; not "
       "complex, text, objects or a sparse matrix)"},
      {"eta complex before dims", exp_refusal(1, kCube, true), type, real_text,
       nullptr},
      {"eta complex empty", exp_refusal(1, kEmpty, true), type, real_text,
       nullptr},
      {"eta dims before size", exp_refusal(1, {true, true, kTwo31, 1}), value,
       "eta must have at most 2 dimensions (a 1-D eta is one column)", nullptr},
      {"eta rows", exp_refusal(1, {true, false, kTwo31, 0}), value,
       "eta has more than 2^31 - 1 rows or columns", nullptr},
      {"eta columns", exp_refusal(1, {true, false, 0, kTwo31}), value,
       "eta has more than 2^31 - 1 rows or columns", nullptr},
  };
}

std::vector<CheckCase> all_cases() {
  std::vector<CheckCase> all = cases();
  for (const CheckCase &c : pop_cases()) all.push_back(c);
  for (const CheckCase &c : exp_cases()) all.push_back(c);
  return all;
}

TEST(ArgCheck, EachRefusalInOrderWithEachHostsText) {
  for (const CheckCase &c : all_cases()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.refusal.kind, c.kind);
    EXPECT_STREQ(c.refusal.mex_text, c.mex_text);
    EXPECT_STREQ(c.refusal.python_text,
                 c.python_text ? c.python_text : c.mex_text);
  }
}

// Python's texts speak Python: no MATLAB indexing or function names.
TEST(ArgCheck, PythonTextsNameNoMatlabSyntax) {
  for (const CheckCase &c : all_cases()) {
    const std::string text = c.refusal.python_text;
    for (const char *matlab : {"(1)", "(2)", "fix(", "size(", "trainfold_mex",
                               "tentfill needs", "COLUMN"}) {
      EXPECT_EQ(text.find(matlab), std::string::npos) << c.name << ": " << text;
    }
  }
}

TEST(ArgCheck, AcceptedCallsCarryTheKernelsSizes) {
  const Tentfill2Call up =
      tentfill2_check(2, {true, false, 3, 2}, kScalar, 2.5);
  EXPECT_EQ(up.refusal.kind, RefusalKind::none);
  EXPECT_EQ(up.input_rows, 3);
  EXPECT_EQ(up.input_cols, 2);
  EXPECT_EQ(up.shape.output_rows, 6);
  const double twin[2] = {2.7, 9.2};
  const TrainfoldCall sum =
      trainfold_check(3, {true, false, 4, 0}, {true, false, 5, 3}, kPair, twin);
  EXPECT_EQ(sum.refusal.kind, RefusalKind::none);
  EXPECT_EQ(sum.spike_count, 0);  // rows but no column: no spike times
  EXPECT_EQ(sum.taps, 5);
  EXPECT_EQ(sum.filters, 3);
  EXPECT_EQ(sum.window.rows, 8);
  const double ids[3] = {0, 2, 1};
  const TrainfoldPopCall pop = trainfold_pop_check_ids(
      trainfold_pop_check(5, kColumn, kColumn, {true, false, 4, 6}, kPair,
                          kScalar, twin, 3),
      ids, 0);
  EXPECT_EQ(pop.refusal.kind, RefusalKind::none);
  EXPECT_EQ(pop.spike_count, 3);
  EXPECT_EQ(pop.taps, 4);
  EXPECT_EQ(pop.pop.sources, 3);
  EXPECT_EQ(pop.pop.outputs, 2);
  EXPECT_EQ(pop.window.rows, 8);
  const TrainfoldPopAdjointCall adjoint = trainfold_pop_adjoint_check_ids(
      trainfold_pop_adjoint_check(6, kColumn, kColumn, {true, false, 8, 2},
                                  kPair, kScalar, kScalar, twin, 5, 3),
      ids, 0);
  EXPECT_EQ(adjoint.refusal.kind, RefusalKind::none);
  EXPECT_EQ(adjoint.shape.taps, 5);
  EXPECT_EQ(adjoint.pop.filters, 6);
  for (const ArgInfo eta : {ArgInfo{true, false, 7, 3}, kEmpty,
                            ArgInfo{true, false, 0, kTwo31 - 1}}) {
    const RateExpCall exp_call = rate_exp_check(1, eta, false);
    EXPECT_EQ(exp_call.refusal.kind, RefusalKind::none);
    EXPECT_EQ(exp_call.shape.rows, static_cast<int32_t>(eta.rows));
    EXPECT_EQ(exp_call.shape.cols, static_cast<int32_t>(eta.cols));
  }
}

}  // namespace
