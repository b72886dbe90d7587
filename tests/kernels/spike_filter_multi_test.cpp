// The targets-major population sums: their argument checks (one row per
// refusal, in the order applied, with both hosts' texts), each target's row
// against the population sums of that target's filters bit for bit, the
// starting values of the output, and refused shapes that write nothing.
#include "spike_filter/spike_filter_multi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "kernel_test_util.h"
#include "spike_filter/spike_filter_multi_adjoint.h"
#include "spike_filter/spike_filter_pop.h"
#include "spike_filter/spike_filter_pop_adjoint.h"
#include "spike_filter/trainfold_multi_adjoint_check.h"
#include "spike_filter/trainfold_multi_check.h"

using namespace spike_bins;

namespace {

constexpr uint64_t kTwo31 = uint64_t{1} << 31;
const ArgInfo kColumn{true, false, 3, 1};
const ArgInfo kScalar{true, false, 1, 1};
const ArgInfo kPair{true, false, 1, 2};
const ArgInfo kText{false, false, 1, 3};
const ArgInfo kTextColumn{false, false, 3, 1};
const ArgInfo kEmpty{true, false, 0, 0};
const ArgInfo kCube{true, true, 2, 4};
const ArgInfo kRow{true, false, 1, 3};
const ArgInfo kBig{true, false, kTwo31, 1};

struct CheckCase {
  const char *name;
  Refusal refusal;
  RefusalKind kind;
  const char *mex_text;
  const char *python_text;  // null: the same as mex_text
};

// Both steps of trainfold_multi's check, window 0 .. last, ids
// {base, base, id}.
Refusal multi_refusal(int count, ArgInfo spinds, ArgInfo ids, ArgInfo h,
                      ArgInfo twin, ArgInfo nsources, double last,
                      double sources, double id = 2, int32_t base = 1) {
  const double values[2] = {0, last};
  const double id_values[3] = {static_cast<double>(base),
                               static_cast<double>(base), id};
  const TrainfoldMultiCall call = trainfold_multi_check(
      count, spinds, ids, h, twin, nsources, values, sources);
  return trainfold_multi_check_ids(call, id_values, base).refusal;
}

Refusal adjoint_refusal(int count, ArgInfo spinds, ArgInfo ids, ArgInfo r,
                        ArgInfo twin, ArgInfo ntaps, ArgInfo nsources,
                        double last, double taps, double sources, double id = 2,
                        int32_t base = 1) {
  const double values[2] = {0, last};
  const double id_values[3] = {static_cast<double>(base),
                               static_cast<double>(base), id};
  const TrainfoldMultiAdjointCall call = trainfold_multi_adjoint_check(
      count, spinds, ids, r, twin, ntaps, nsources, values, taps, sources);
  return trainfold_multi_adjoint_check_ids(call, id_values, base).refusal;
}

std::vector<CheckCase> multi_cases() {
  const RefusalKind count = RefusalKind::arg_count;
  const RefusalKind type = RefusalKind::arg_type;
  const RefusalKind value = RefusalKind::arg_value;
  const ArgInfo h4{true, false, 3, 4};  // 3 targets, 2 sources x 2 taps
  const ArgInfo r3{true, false, 2, 3};  // 2 targets, window 0 .. 2
  const char *bad_id_mex =
      "ids must be whole numbers from 1 to nsources (not NaN or Inf)";
  const char *bad_id_python =
      "ids must be whole numbers from 0 to nsources - 1 (not NaN or Inf)";
  const char *too_large =
      "the result would be larger than this process can address (rows x "
      "columns x 8 bytes)";
  const char *nsources_range =
      "nsources must be a whole number from 1 to 2^31 - 1 (not fractional, "
      "NaN or Inf)";
  return {
      {"count", multi_refusal(4, kRow, kRow, kText, kText, kText, 2, 2), count,
       "trainfold_multi needs 5 input args: spinds, ids, h_currents, twin, "
       "nsources",
       "trainfold_multi() takes 5 arguments: spinds, ids, h_currents, twin, "
       "nsources"},
      {"spinds column first",
       multi_refusal(5, kRow, kRow, kText, kText, kText, 2, 2), value,
       "spinds must be a column vector of spike times (one column)",
       "spinds must be a 1-D array or a single column of spike times"},
      {"ids column before types",
       multi_refusal(5, kTextColumn, kRow, kText, kText, kText, 2, 2), value,
       "ids must be a column vector of source numbers (one column)",
       "ids must be a 1-D array or a single column of source numbers"},
      {"spinds type",
       multi_refusal(5, kTextColumn, kTextColumn, kText, kText, kText, 2, 2),
       type, "spinds must be a full (non-sparse) double array",
       "spinds must be an array of real numbers (bool, integer or float; not "
       "complex, text, objects or a sparse matrix)"},
      {"h type", multi_refusal(5, kColumn, kColumn, kText, kText, kText, 2, 2),
       type, "h_currents must be a full (non-sparse) double array",
       "h_currents must be an array of real numbers (bool, integer or float; "
       "not complex, text, objects or a sparse matrix)"},
      {"twin type",
       multi_refusal(5, kColumn, kColumn, kCube, kText, kText, 2, 2), type,
       "twin must be a full (non-sparse) double array",
       "twin must be an array of real numbers (bool, integer or float; not "
       "complex, text or objects)"},
      {"nsources type",
       multi_refusal(5, kColumn, kColumn, kCube, kScalar, kText, 2, 2), type,
       "nsources must be a full (non-sparse) double array",
       "nsources must be a real number (bool, integer or float; not complex, "
       "text or objects)"},
      {"twin count",
       multi_refusal(5, kColumn, kColumn, kCube, kScalar, kEmpty, 2, 2), value,
       "twin must hold two values, the first and last bin of the window",
       nullptr},
      {"nsources empty",
       multi_refusal(5, kColumn, kColumn, kCube, kPair, kEmpty, 2, 2), value,
       "nsources is empty; it must hold the number of source neurons", nullptr},
      {"h dims", multi_refusal(5, kColumn, kBig, kCube, kPair, kScalar, 2, 2),
       value,
       "h_currents must have at most 2 dimensions (a 1-D h_currents is one "
       "target)",
       nullptr},
      {"sizes", multi_refusal(5, kColumn, kBig, h4, kPair, kScalar, 2, 2),
       value,
       "spinds, ids or h_currents has more than 2^31 - 1 rows or columns",
       nullptr},
      {"ids length before window",
       multi_refusal(5, kColumn, {true, false, 2, 1}, h4, kPair, kScalar, -5,
                     2),
       value,
       "ids must hold one source number per spike time (as many elements as "
       "spinds)",
       nullptr},
      {"window before nsources",
       multi_refusal(5, kColumn, kColumn, h4, kPair, kScalar, -5, 0.5), value,
       "twin(2) must be at least twin(1) - 1 (the window would have a "
       "negative number of rows)",
       "twin[1] must be at least twin[0] - 1 (the window would have a "
       "negative number of rows)"},
      {"nsources range",
       multi_refusal(5, kColumn, kColumn, h4, kPair, kScalar, 2, 0.5), value,
       nsources_range, nullptr},
      {"nsources 2^31",
       multi_refusal(5, kColumn, kColumn, h4, kPair, kScalar, 2, 2147483648.0),
       value, nsources_range, nullptr},
      {"h columns not a multiple, before ids",
       multi_refusal(5, kColumn, kColumn, h4, kPair, kScalar, 2, 3, 0.0 / 0.0),
       value,
       "h_currents must hold the same number of taps for each of nsources "
       "sources: its column count must be a multiple of nsources",
       nullptr},
      {"id NaN",
       multi_refusal(5, kColumn, kColumn, h4, kPair, kScalar, 2, 2, 0.0 / 0.0),
       value, bad_id_mex, bad_id_python},
      {"id past nsources",
       multi_refusal(5, kColumn, kColumn, h4, kPair, kScalar, 2, 2, 3), value,
       bad_id_mex, bad_id_python},
      {"id below the base 1",
       multi_refusal(5, kColumn, kColumn, h4, kPair, kScalar, 2, 2, 0), value,
       bad_id_mex, bad_id_python},
      {"id past nsources from base 0",
       multi_refusal(5, kColumn, kColumn, h4, kPair, kScalar, 2, 2, 2, 0),
       value, bad_id_mex, bad_id_python},
      {"too large",
       multi_refusal(5, kColumn, kColumn, {true, false, kTwo31 - 1, 2}, kPair,
                     kScalar, 2147483646, 2),
       value, too_large, nullptr},
      {"accepted from base 0",
       multi_refusal(5, kColumn, kColumn, h4, kPair, kScalar, 2, 4, 0, 0),
       RefusalKind::none, "", ""},
      {"accepted", multi_refusal(5, kColumn, kColumn, h4, kPair, kScalar, 2, 2),
       RefusalKind::none, "", ""},
      {"adjoint count",
       adjoint_refusal(5, kRow, kRow, kText, kText, kText, kText, 2, 1, 2),
       count,
       "trainfold_multi_adjoint needs 6 input args: spinds, ids, r, twin, "
       "ntaps, nsources",
       "trainfold_multi_adjoint() takes 6 arguments: spinds, ids, r, twin, "
       "ntaps, nsources"},
      {"adjoint ids column",
       adjoint_refusal(6, kTextColumn, kRow, kText, kText, kText, kText, 2, 1,
                       2),
       value, "ids must be a column vector of source numbers (one column)",
       "ids must be a 1-D array or a single column of source numbers"},
      {"adjoint r type",
       adjoint_refusal(6, kColumn, kColumn, kText, kText, kText, kText, 2, 1,
                       2),
       type, "r must be a full (non-sparse) double array",
       "r must be an array of real numbers (bool, integer or float; not "
       "complex, text, objects or a sparse matrix)"},
      {"adjoint ntaps type",
       adjoint_refusal(6, kColumn, kColumn, kCube, kScalar, kText, kText, 2, 1,
                       2),
       type, "ntaps must be a full (non-sparse) double array",
       "ntaps must be a real number (bool, integer or float; not complex, "
       "text or objects)"},
      {"adjoint ntaps empty first",
       adjoint_refusal(6, kColumn, kColumn, kCube, kPair, kEmpty, kEmpty, 2, 1,
                       2),
       value, "ntaps is empty; it must hold the number of filter taps",
       nullptr},
      {"adjoint nsources empty",
       adjoint_refusal(6, kColumn, kColumn, kCube, kPair, kScalar, kEmpty, 2, 1,
                       2),
       value, "nsources is empty; it must hold the number of source neurons",
       nullptr},
      {"adjoint r dims",
       adjoint_refusal(6, kColumn, kBig, kCube, kPair, kScalar, kScalar, 2, 1,
                       2),
       value, "r must have at most 2 dimensions (a 1-D r is one target)",
       nullptr},
      {"adjoint sizes",
       adjoint_refusal(6, kColumn, kBig, r3, kPair, kScalar, kScalar, 2, 1, 2),
       value, "spinds, ids or r has more than 2^31 - 1 rows or columns",
       nullptr},
      {"adjoint ids length",
       adjoint_refusal(6, kColumn, kScalar, r3, kPair, kScalar, kScalar, 2, 1,
                       2),
       value,
       "ids must hold one source number per spike time (as many elements as "
       "spinds)",
       nullptr},
      {"adjoint window",
       adjoint_refusal(6, kColumn, kColumn, r3, kPair, kScalar, kScalar, -5, 1,
                       0.5),
       value,
       "twin(2) must be at least twin(1) - 1 (the window would have a "
       "negative number of rows)",
       "twin[1] must be at least twin[0] - 1 (the window would have a "
       "negative number of rows)"},
      {"adjoint ntaps before r columns",
       adjoint_refusal(6, kColumn, kColumn, r3, kPair, kScalar, kScalar, 3, -1,
                       0.5),
       value,
       "ntaps must be a whole number from 0 to 2^31 - 1 (not negative, "
       "fractional, NaN or Inf)",
       nullptr},
      {"adjoint r columns before nsources",
       adjoint_refusal(6, kColumn, kColumn, r3, kPair, kScalar, kScalar, 3, 1,
                       0.5),
       value,
       "r must have one column per bin of the window: fix(twin(2)) - "
       "fix(twin(1)) + 1 columns",
       "r must have one column per bin of the window: int(twin[1]) - "
       "int(twin[0]) + 1 columns"},
      {"adjoint r rows are targets, not bins",
       adjoint_refusal(6, kColumn, kColumn, {true, false, 3, 2}, kPair, kScalar,
                       kScalar, 2, 1, 2),
       value,
       "r must have one column per bin of the window: fix(twin(2)) - "
       "fix(twin(1)) + 1 columns",
       "r must have one column per bin of the window: int(twin[1]) - "
       "int(twin[0]) + 1 columns"},
      {"adjoint nsources range",
       adjoint_refusal(6, kColumn, kColumn, r3, kPair, kScalar, kScalar, 2, 1,
                       1.0 / 0.0),
       value, nsources_range, nullptr},
      {"adjoint result columns before ids",
       adjoint_refusal(6, kColumn, kColumn, r3, kPair, kScalar, kScalar, 2,
                       4096, 1 << 19, 0.0 / 0.0),
       value,
       "the result would have more than 2^31 - 1 columns (ntaps * nsources)",
       nullptr},
      {"adjoint id",
       adjoint_refusal(6, kColumn, kColumn, r3, kPair, kScalar, kScalar, 2, 1,
                       2, 1.0 / 0.0),
       value, bad_id_mex, bad_id_python},
      {"adjoint too large",
       adjoint_refusal(6, kColumn, kColumn, {true, false, 1 << 30, 3}, kPair,
                       kScalar, kScalar, 2, 2147483647, 1, 1),
       value, too_large, nullptr},
      {"adjoint accepted",
       adjoint_refusal(6, kColumn, kColumn, r3, kPair, kScalar, kScalar, 2, 1,
                       2),
       RefusalKind::none, "", ""},
  };
}

TEST(MultiArgCheck, EachRefusalInOrderWithEachHostsText) {
  for (const CheckCase &c : multi_cases()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.refusal.kind, c.kind);
    EXPECT_STREQ(c.refusal.mex_text, c.mex_text);
    EXPECT_STREQ(c.refusal.python_text,
                 c.python_text ? c.python_text : c.mex_text);
  }
}

TEST(MultiArgCheck, AcceptedCallsCarryTheKernelsSizes) {
  const double twin[2] = {2.7, 9.2};
  const double ids[3] = {0, 2, 1};
  const TrainfoldMultiCall multi = trainfold_multi_check_ids(
      trainfold_multi_check(5, kColumn, kColumn, {true, false, 4, 6}, kPair,
                            kScalar, twin, 3),
      ids, 0);
  EXPECT_EQ(multi.refusal.kind, RefusalKind::none);
  EXPECT_EQ(multi.spike_count, 3);
  EXPECT_EQ(multi.targets, 4);
  EXPECT_EQ(multi.multi.sources, 3);
  EXPECT_EQ(multi.multi.taps, 2);
  EXPECT_EQ(multi.multi.columns, 6);
  EXPECT_EQ(multi.window.rows, 8);
  const TrainfoldMultiAdjointCall adjoint = trainfold_multi_adjoint_check_ids(
      trainfold_multi_adjoint_check(6, kColumn, kColumn, {true, false, 5, 8},
                                    kPair, kScalar, kScalar, twin, 4, 3),
      ids, 0);
  EXPECT_EQ(adjoint.refusal.kind, RefusalKind::none);
  EXPECT_EQ(adjoint.targets, 5);
  EXPECT_EQ(adjoint.shape.taps, 4);
  EXPECT_EQ(adjoint.multi.columns, 12);
}

// Row k of each result against spike_filter_pop(_adjoint) of target k alone,
// from random starting values: spikes in and out of order, repeats, NaNs,
// every source count, tap count and window position the draws reach.
TEST(SpikeFilterMulti, EachRowIsThePopulationSumOfItsTarget) {
  for (int index = 0; index < 400; ++index) {
    Rng rng = case_rng(index);
    const int32_t targets = pick(rng, 0, 5);
    const int32_t taps = pick(rng, 0, 6);
    const int32_t sources = pick(rng, 1, 4);
    const int32_t base = pick(rng, 0, 1);
    const double twin[2] = {static_cast<double>(pick(rng, -5, 5)),
                            static_cast<double>(pick(rng, -5, 15))};
    const SpikeWindow window = spike_window(twin);
    if (window.status != SpikeWindowStatus::ok) continue;
    const int32_t bins = window.rows;
    const int32_t columns = taps * sources;
    std::vector<double> spinds(static_cast<size_t>(pick(rng, 0, 16)));
    for (double &t : spinds) t = uniform(rng, -8.0, 20.0);
    if (chance(rng, 50)) std::sort(spinds.begin(), spinds.end());
    if (chance(rng, 10) && !spinds.empty()) spinds.back() = kNaN;
    for (size_t i = 1; i < spinds.size(); ++i) {
      if (chance(rng, 15)) spinds[i] = spinds[i - 1];
    }
    std::vector<double> ids;
    for (size_t i = 0; i < spinds.size(); ++i) {
      ids.push_back(base + pick(rng, 0, sources - 1));
    }
    const int32_t b = static_cast<int32_t>(spinds.size());
    std::vector<double> h(static_cast<size_t>(targets) * columns);
    for (double &v : h) v = random_value(rng);
    std::vector<double> r(static_cast<size_t>(targets) * bins);
    for (double &v : r) v = random_value(rng);
    std::vector<double> y(r.size());
    for (double &v : y) v = random_value(rng);
    std::vector<double> g(h.size());
    for (double &v : g) v = random_value(rng);
    const std::vector<double> start_y = y;
    const std::vector<double> start_g = g;

    spike_filter_multi(spinds.data(), ids.data(), b,
                       view_of(h, targets, columns), twin, sources, base,
                       view_of(y, targets, bins));
    spike_filter_multi_adjoint(spinds.data(), ids.data(), b,
                               view_of(r, targets, bins), twin, taps, sources,
                               base, view_of(g, targets, columns));
    for (int32_t k = 0; k < targets; ++k) {
      // Target k's row, as the population sums' c x N filters and R x 1 r.
      std::vector<double> hk, rk, yk, gk;
      for (int32_t col = 0; col < columns; ++col) {
        hk.push_back(h[k + size_t{1} * targets * col]);
        gk.push_back(start_g[k + size_t{1} * targets * col]);
      }
      for (int32_t t = 0; t < bins; ++t) {
        rk.push_back(r[k + size_t{1} * targets * t]);
        yk.push_back(start_y[k + size_t{1} * targets * t]);
      }
      spike_filter_pop(spinds.data(), ids.data(), b, view_of(hk, taps, sources),
                       twin, sources, base, view_of(yk, bins, 1));
      spike_filter_pop_adjoint(spinds.data(), ids.data(), b,
                               view_of(rk, bins, 1), twin, taps, sources, base,
                               view_of(gk, taps, sources));
      std::vector<double> y_row, g_row;
      for (int32_t t = 0; t < bins; ++t) y_row.push_back(y[k + targets * t]);
      for (int32_t col = 0; col < columns; ++col) {
        g_row.push_back(g[k + targets * col]);
      }
      EXPECT_TRUE(same_bits_as(y_row, yk, 1))
          << "case " << index << " row " << k;
      EXPECT_TRUE(same_bits_as(g_row, gk, 1))
          << "case " << index << " row " << k;
    }
  }
}

// A refused id (anywhere in the list), source count, column count or tap
// count, or an output of another shape: neither kernel writes.
TEST(SpikeFilterMulti, RefusedArgumentsAndShapesWriteNothing) {
  struct Refused {
    const char *name;
    double id;  // the last of three ids, base 1
    double nsources;
    int32_t filter_cols;  // of h and g, 2 targets
    double ntaps;
    int32_t y_rows, y_cols, g_rows;
    bool forward_refused;  // y too (else the forward's arguments are valid)
  };
  const Refused cases[] = {
      {"id NaN", kNaN, 2, 4, 2, 2, 4, 2, true},
      {"id zero", 0.0, 2, 4, 2, 2, 4, 2, true},
      {"id past N", 3.0, 2, 4, 2, 2, 4, 2, true},
      {"id -Inf", -kInf, 2, 4, 2, 2, 4, 2, true},
      {"nsources 0", 1.0, 0.0, 4, 2, 2, 4, 2, true},
      {"nsources NaN", 1.0, kNaN, 4, 2, 2, 4, 2, true},
      {"columns not a multiple", 1.0, 3.0, 4, 3, 2, 4, 2, true},
      {"y bins and targets swapped", 1.0, 2.0, 4, 1.5, 4, 2, 2, true},
      {"ntaps fractional", 1.0, 2.0, 4, 1.5, 2, 4, 2, false},
      {"g one target more", 1.0, 2.0, 4, 2, 2, 4, 3, false},
      {"g columns of another tap count", 1.0, 2.0, 6, 2, 2, 4, 2, false},
  };
  const double twin[2] = {0.0, 3.0};
  const std::vector<double> spinds = {0.0, 1.0, 50.0};
  for (const Refused &c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<double> ids = {1.0, 2.0, c.id};
    std::vector<double> h(static_cast<size_t>(2) * c.filter_cols, 1.0);
    std::vector<double> y(static_cast<size_t>(c.y_rows) * c.y_cols, kSentinel);
    std::vector<double> r(8, 1.0);
    std::vector<double> g(static_cast<size_t>(c.g_rows) * c.filter_cols,
                          kSentinel);
    if (c.forward_refused) {
      spike_filter_multi(spinds.data(), ids.data(), 3,
                         view_of(h, 2, c.filter_cols), twin, c.nsources, 1,
                         view_of(y, c.y_rows, c.y_cols));
      EXPECT_TRUE(untouched(y));
    }
    spike_filter_multi_adjoint(spinds.data(), ids.data(), 3, view_of(r, 2, 4),
                               twin, c.ntaps, c.nsources, 1,
                               view_of(g, c.g_rows, c.filter_cols));
    EXPECT_TRUE(untouched(g));
  }
}

}  // namespace
