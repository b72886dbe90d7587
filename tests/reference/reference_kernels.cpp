#include "reference_kernels.h"

#include <algorithm>
#include <cmath>

namespace {

// Truncation toward zero to an int32, or false when it has no such value.
bool truncate_checked(double value, int32_t *out) {
  const double whole = std::trunc(value);  // NaN and +-Inf stay as they are
  if (!(whole >= static_cast<double>(INT32_MIN) &&
        whole <= static_cast<double>(INT32_MAX))) {
    return false;
  }
  *out = static_cast<int32_t>(whole);
  return true;
}

}  // namespace

bool reference_bins_per_sample(double nbns, int32_t *bins) {
  int32_t e = 0;
  if (!truncate_checked(nbns, &e) || e < 0) {
    return false;
  }
  *bins = e;
  return true;
}

int64_t reference_upsample_rows(int32_t m, int32_t bins) {
  return static_cast<int64_t>(m) * static_cast<int64_t>(bins);
}

void reference_upsample(const double *x, int32_t m, int32_t n, double nbns,
                        double *y) {
  int32_t bins = 0;
  if (!reference_bins_per_sample(nbns, &bins) || bins == 0 || m <= 0 ||
      n <= 0) {
    return;
  }
  const int64_t e = bins;
  const int64_t g = e / 2;
  const int64_t f = reference_upsample_rows(m, bins);
  const double h = 1.0 / nbns;
  const int64_t head_end = e - g;    // rows [0, head_end) are the head ramp
  const int64_t tail_start = f - g;  // rows [tail_start, f) are the tail ramp
  for (int64_t r = 0; r < f; ++r) {
    for (int64_t col = 0; col < n; ++col) {
      const double *xc = x + col * m;
      double value;
      if (r < head_end) {
        const int64_t i = r;
        value = (static_cast<double>(g + 1 + i) * h) * xc[0];
      } else if (r < tail_start) {
        const int64_t p = r - head_end;
        const int64_t j = p / e + 1;
        const int64_t k = p % e;
        const double w_prev = static_cast<double>(e - 1 - k);
        const double w_cur = static_cast<double>(k + 1);
        if (n == 1) {
          value = (w_prev * xc[j - 1] + w_cur * xc[j]) * h;
        } else {
          value = (w_prev * h) * xc[j - 1] + (w_cur * h) * xc[j];
        }
      } else {
        const int64_t k = r - tail_start;
        value = (static_cast<double>(e - 1 - k) * h) * xc[m - 1];
      }
      y[r + f * col] = value;
    }
  }
}

bool reference_window_bin(double end, int32_t *bin) {
  return truncate_checked(end, bin);
}

int64_t reference_window_rows(int32_t first_bin, int32_t last_bin) {
  return static_cast<int64_t>(last_bin) - first_bin + 1;
}

namespace {

// The skip and scan of the spike references: calls
// visit(bin, a, z, first_bin, rows, j) for every spike j taken whose taps
// reach the window, bins a .. z of it, in list order. Nothing for an invalid or
// empty window.
template <typename Visit>
void for_each_taken_spike(const double *spinds, int32_t b, int32_t c, double t0,
                          double t1, Visit visit) {
  int32_t first_bin = 0;
  int32_t last_bin = 0;
  if (!reference_window_bin(t0, &first_bin) ||
      !reference_window_bin(t1, &last_bin)) {
    return;
  }
  const int64_t rows = reference_window_rows(first_bin, last_bin);
  if (rows <= 0) {
    return;
  }
  // Both thresholds are exact in double (|value| < 2^33).
  const double lower = static_cast<double>(int64_t{first_bin} - c + 1);
  const double upper = static_cast<double>(int64_t{last_bin} + 1);

  // Skip: the leading spikes with lower > s (a NaN stops the skip).
  int32_t j = 0;
  while (j < b && lower > spinds[j]) {
    ++j;
  }
  // Scan until a spike at or past upper (or NaN).
  for (; j < b; ++j) {
    const double s = spinds[j];
    if (!(upper > s)) {
      break;
    }
    // The bin and the span of bins it reaches, as integer-valued doubles.
    // Exact for |bin| < 2^52; a bin below that lies so far below the window
    // that rounding of bin + c - 1 cannot bring it in. -Inf stays -Inf.
    const double bin = std::trunc(s);
    const double a = std::max(bin, static_cast<double>(first_bin));
    const double z = std::min(bin + static_cast<double>(int64_t{c} - 1),
                              static_cast<double>(last_bin));
    if (!(a <= z)) {
      continue;
    }
    // Here bin >= T0 - c + 1 and bin < 2^31: all three fit in 64 bits.
    visit(static_cast<int64_t>(bin), static_cast<int64_t>(a),
          static_cast<int64_t>(z), int64_t{first_bin}, rows, j);
  }
}

}  // namespace

void reference_spike_sum(const double *spinds, int32_t b, const double *h,
                         int32_t c, int32_t k, double t0, double t1,
                         double *y) {
  for_each_taken_spike(spinds, b, c, t0, t1,
                       [&](int64_t bin, int64_t a, int64_t z, int64_t first_bin,
                           int64_t rows, int32_t) {
                         for (int64_t col = 0; col < k; ++col) {
                           for (int64_t t = a; t <= z; ++t) {
                             double &out = y[(t - first_bin) + rows * col];
                             out = h[(t - bin) + int64_t{c} * col] + out;
                           }
                         }
                       });
}

bool reference_adjoint_bins_per_sample(double nbns, int32_t *bins) {
  int32_t e = 0;
  if (!truncate_checked(nbns, &e) || e < 1) {
    return false;
  }
  *bins = e;
  return true;
}

void reference_upsample_adjoint(const double *r, int32_t f, int32_t n,
                                double nbns, double *g) {
  int32_t bins = 0;
  if (!reference_adjoint_bins_per_sample(nbns, &bins) || f <= 0 || n <= 0 ||
      f % bins != 0) {
    return;
  }
  const int64_t e = bins;
  const int64_t g_half = e / 2;
  const int64_t m = f / e;
  const double h = 1.0 / nbns;
  const int64_t head_end = e - g_half;
  const int64_t tail_start = f - g_half;
  for (int64_t col = 0; col < n; ++col) {
    const double *rc = r + col * f;
    for (int64_t j = 0; j < m; ++j) {
      double acc = 0.0;
      // Sample j is held by no row outside ((j-1)E, (j+2)E); the weight of
      // each row in that range comes from the forward's row formulas.
      const int64_t from = std::max<int64_t>(0, (j - 1) * e);
      const int64_t to = std::min<int64_t>(f, (j + 2) * e);
      for (int64_t rho = from; rho < to; ++rho) {
        int64_t weight = -1;  // -1: row rho does not hold sample j
        if (rho < head_end) {
          if (j == 0) weight = g_half + 1 + rho;
        } else if (rho < tail_start) {
          const int64_t p = rho - head_end;
          const int64_t gap = p / e + 1;  // between x[gap-1] and x[gap]
          const int64_t k = p % e;
          if (j == gap - 1) weight = e - 1 - k;
          if (j == gap) weight = k + 1;
        } else if (j == m - 1) {
          weight = e - 1 - (rho - tail_start);
        }
        if (weight >= 0) {
          acc = (static_cast<double>(weight) * h) * rc[rho] + acc;
        }
      }
      g[j + m * col] = acc;
    }
  }
}

bool reference_tap_count(double ntaps, int32_t *taps) {
  int32_t c = 0;
  if (!truncate_checked(ntaps, &c) || c < 0 ||
      static_cast<double>(c) != ntaps) {
    return false;
  }
  *taps = c;
  return true;
}

void reference_spike_sum_adjoint(const double *spinds, int32_t b,
                                 const double *r, int32_t c, int32_t k,
                                 double t0, double t1, double *g) {
  for_each_taken_spike(spinds, b, c, t0, t1,
                       [&](int64_t bin, int64_t a, int64_t z, int64_t first_bin,
                           int64_t rows, int32_t) {
                         for (int64_t col = 0; col < k; ++col) {
                           for (int64_t t = a; t <= z; ++t) {
                             double &out = g[(t - bin) + int64_t{c} * col];
                             out = r[(t - first_bin) + rows * col] + out;
                           }
                         }
                       });
}

bool reference_source_count(double nsources, int32_t *sources) {
  int32_t n = 0;
  if (!truncate_checked(nsources, &n) || n < 1 ||
      static_cast<double>(n) != nsources) {
    return false;
  }
  *sources = n;
  return true;
}

bool reference_source_ids(const double *ids, int32_t b, int32_t sources,
                          int32_t base) {
  for (int32_t j = 0; j < b; ++j) {
    const double id = ids[j];
    // NaN fails both comparisons; the bounds are exact doubles.
    if (!(id >= static_cast<double>(base)) ||
        !(id <= static_cast<double>(int64_t{base} + sources - 1)) ||
        std::trunc(id) != id) {
      return false;
    }
  }
  return true;
}

void reference_pop_sum(const double *spinds, const double *ids, int32_t b,
                       const double *h, int32_t c, int32_t n, int32_t k,
                       int32_t base, double t0, double t1, double *y) {
  for_each_taken_spike(
      spinds, b, c, t0, t1,
      [&](int64_t bin, int64_t a, int64_t z, int64_t first_bin, int64_t rows,
          int32_t j) {
        const int64_t source = static_cast<int64_t>(ids[j]) - base;
        for (int64_t col = 0; col < k; ++col) {
          const double *filter = h + int64_t{c} * (col * n + source);
          for (int64_t t = a; t <= z; ++t) {
            double &out = y[(t - first_bin) + rows * col];
            out = filter[t - bin] + out;
          }
        }
      });
}

void reference_pop_sum_adjoint(const double *spinds, const double *ids,
                               int32_t b, const double *r, int32_t c, int32_t n,
                               int32_t k, int32_t base, double t0, double t1,
                               double *g) {
  for_each_taken_spike(spinds, b, c, t0, t1,
                       [&](int64_t bin, int64_t a, int64_t z, int64_t first_bin,
                           int64_t rows, int32_t j) {
                         const int64_t source =
                             static_cast<int64_t>(ids[j]) - base;
                         for (int64_t col = 0; col < k; ++col) {
                           double *filter = g + int64_t{c} * (col * n + source);
                           for (int64_t t = a; t <= z; ++t) {
                             double &out = filter[t - bin];
                             out = r[(t - first_bin) + rows * col] + out;
                           }
                         }
                       });
}

void reference_multi_sum(const double *spinds, const double *ids, int32_t b,
                         const double *h, int32_t k, int32_t c, int32_t /*n*/,
                         int32_t base, double t0, double t1, double *y) {
  for_each_taken_spike(
      spinds, b, c, t0, t1,
      [&](int64_t bin, int64_t a, int64_t z, int64_t first_bin,
          int64_t /*rows*/, int32_t j) {
        const int64_t source = static_cast<int64_t>(ids[j]) - base;
        for (int64_t t = a; t <= z; ++t) {
          const int64_t column = source * c + (t - bin);
          for (int64_t target = 0; target < k; ++target) {
            double &out = y[target + int64_t{k} * (t - first_bin)];
            out = h[target + int64_t{k} * column] + out;
          }
        }
      });
}

void reference_multi_sum_adjoint(const double *spinds, const double *ids,
                                 int32_t b, const double *r, int32_t k,
                                 int32_t c, int32_t /*n*/, int32_t base,
                                 double t0, double t1, double *g) {
  for_each_taken_spike(
      spinds, b, c, t0, t1,
      [&](int64_t bin, int64_t a, int64_t z, int64_t first_bin,
          int64_t /*rows*/, int32_t j) {
        const int64_t source = static_cast<int64_t>(ids[j]) - base;
        for (int64_t t = a; t <= z; ++t) {
          const int64_t column = source * c + (t - bin);
          for (int64_t target = 0; target < k; ++target) {
            double &out = g[target + int64_t{k} * column];
            out = r[target + int64_t{k} * (t - first_bin)] + out;
          }
        }
      });
}

double reference_exp(double x) {
  if (std::isnan(x)) {
    return x + x;
  }
  if (x > 709.782712893383973096) {
    return HUGE_VAL;
  }
  if (x < -745.13321910194110842) {
    return 0.0;
  }
  const double shift = 0x1.8p52;
  const double t = x * 0x1.71547652b82fep+0 + shift;
  const double kd = t - shift;
  const double hi = x - kd * 0x1.62e42feep-1;
  const double lo = kd * 0x1.a39ef35793c76p-33;
  const double r = hi - lo;
  const double s = r * r;
  const double p =
      0x1.555555555553ep-3 +
      s * (-0x1.6c16c16bebd93p-9 +
           s * (0x1.1566aaf25de2cp-14 +
                s * (-0x1.bbd41c5d26bf1p-20 + s * 0x1.6376972bea4d0p-25)));
  const double c = r - s * p;
  const double y = 1.0 - ((lo - (r * c) / (2.0 - c)) - hi);
  return std::ldexp(y, static_cast<int>(kd));
}

void reference_exp_all(const double *x, int64_t count, double *y) {
  for (int64_t i = 0; i < count; ++i) {
    y[i] = reference_exp(x[i]);
  }
}
