#!/usr/bin/env python3
"""Population GLM fits: matrix-free against the design-matrix way, one run.

    python3 benchmarks/population_fit_peers.py [--limit-gib 6] [--sizes 5:300000,...]

For each size (N neurons, T bins of 1 ms; the worked example's population,
examples/population_fit.py, drawn with glm.draw_spikes, seed 0) neuron 0 is
fitted four ways, each in a child process whose
address space is limited to --limit-gib with RLIMIT_AS (so a design that does
not fit fails with MemoryError instead of pressing on the machine), a fresh
interpreter that gets the population as its argument:

  matrix-free     glm.PopulationGLM's fit of one neuron (the code fit runs
                  per neuron): L-BFGS, drive from tentfill2 and one
                  trainfold_pop pass, gradient from the adjoints; memory: a
                  few T x 1 arrays
  statsmodels     GLM(Poisson).fit() (IRLS) on the dense design
  sklearn lbfgs   PoissonRegressor(alpha=0, solver="lbfgs")
  sklearn newton  PoissonRegressor(alpha=0, solver="newton-cholesky")

The peers' design is built as users do: binned counts of each neuron
convolved with each basis function (scipy.signal.oaconvolve), shifted one bin
into the past, and the lagged, upsampled stimulus. Reported: time to build
the design and to fit, peak resident memory above the child's start (which
holds the inputs), the recovered errors, and each peer's time over the
matrix-free time. Not a test: the figures depend on the machine.

The peers use whatever BLAS numpy loads; the table header names it. Debian's
default is the reference BLAS; for a fair comparison run with OpenBLAS
(package libopenblas0-pthread), without this machine's OPENBLAS_* settings:
    env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE \\
      LD_LIBRARY_PATH=/usr/lib/x86_64-linux-gnu/openblas-pthread \\
      python3 benchmarks/population_fit_peers.py
"""
import argparse
import multiprocessing
import os
import resource
import sys
import time
import traceback

import numpy as np

import spike_bins
from spike_bins import glm

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples")
sys.path.insert(0, EXAMPLES)
import population_fit as worked  # noqa: E402  (the worked example's simulation)

METHODS = ["matrix-free", "statsmodels", "sklearn lbfgs", "sklearn newton"]
DEFAULT_SIZES = [(5, 300_000), (10, 600_000), (20, 1_200_000), (20, 3_600_000)]


def status_kib(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return 0


def nparams(sim):
    return 1 + worked.LAGS + len(sim["spikes"]) * worked.NBASIS


def design(sim):
    """The dense design of neuron-independent columns: a constant, the
    stimulus lags, then basis function b of source j at 1 + L + j * nb + b."""
    from scipy.signal import oaconvolve
    t, nb, lags = sim["nbins"], worked.NBASIS, worked.LAGS
    basis = glm.raised_cosine_basis(worked.TAPS, nb)
    stim, d = sim["stimulus"], glm.STIMULUS_DELAY
    delayed = np.zeros(stim.size)
    delayed[d:] = stim[:stim.size - d]
    x = np.empty((t, nparams(sim)), order="F")
    x[:, 0] = 1.0
    for lag in range(lags):
        shifted = np.zeros(delayed.size)
        shifted[lag:] = delayed[:delayed.size - lag]
        x[:, 1 + lag] = spike_bins.tentfill2(shifted, worked.E)[:, 0]
    for j, spikes in enumerate(sim["spikes"]):
        counts = np.bincount(spikes, minlength=t).astype(float)
        for b in range(nb):
            col = 1 + lags + j * nb + b
            x[0, col] = 0.0
            x[1:, col] = oaconvolve(counts, basis[:, b])[:t - 1]
    return x


def counts_of(sim, neuron):
    return np.bincount(sim["spikes"][neuron], minlength=sim["nbins"]).astype(float)


def matrix_free(sim, neuron):
    """Neuron `neuron`'s parameters from PopulationGLM's fit of that neuron
    alone (fit itself fits every neuron, each by this code)."""
    from spike_bins import _distributed
    model = glm.PopulationGLM(history_taps=worked.TAPS, n_basis=worked.NBASIS,
                              stimulus_lags=worked.LAGS)
    rec = worked.recording(sim)
    data, _ = model._data(rec["spike_times"], rec["duration"], rec["stimulus"],
                          rec["stimulus_rate"], 0.0)
    fit, = _distributed._fit_all(data, None, 0.0, model.tol, model.max_iter, None,
                                 None, False, targets=[neuron])
    return fit.theta


def run_method(method, sim, neuron):
    built = time.perf_counter()
    build_s = 0.0
    if method == "matrix-free":
        start = time.perf_counter()
        theta = matrix_free(sim, neuron)
        fit_s = time.perf_counter() - start
    else:
        x = design(sim)
        y = counts_of(sim, neuron)
        build_s = time.perf_counter() - built
        start = time.perf_counter()
        if method == "statsmodels":
            import statsmodels.api as sm
            res = sm.GLM(y, x, family=sm.families.Poisson()).fit()
            theta = np.asarray(res.params)
        else:
            from sklearn.linear_model import PoissonRegressor
            solver = "lbfgs" if method == "sklearn lbfgs" else "newton-cholesky"
            model = PoissonRegressor(alpha=0.0, solver=solver, tol=1e-8, max_iter=1000)
            model.fit(x[:, 1:], y)
            theta = np.r_[model.intercept_, model.coef_]
        fit_s = time.perf_counter() - start
    return build_s, fit_s, theta


def child(method, sim, neuron, limit_bytes, conn):
    # A fresh interpreter (spawn): its memory at this point is the libraries
    # and the inputs; the peak is then reset, so the peak above this start is
    # the fit's own.
    import scipy.linalg  # noqa: F401
    import scipy.optimize  # noqa: F401
    import scipy.signal  # noqa: F401
    if method != "matrix-free":
        import sklearn.linear_model  # noqa: F401
        import statsmodels.api  # noqa: F401
    resource.setrlimit(resource.RLIMIT_AS, (limit_bytes, limit_bytes))
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")  # resets VmHWM to the current resident size
    start_rss = status_kib("VmRSS")
    try:
        build_s, fit_s, theta = run_method(method, sim, neuron)
        extra = (status_kib("VmHWM") - start_rss) / 1024
        conn.send({"ok": True, "build": build_s, "fit": fit_s, "extra_mib": extra,
                   "theta": theta})
    except MemoryError:
        conn.send({"ok": False, "why": "MemoryError (over the limit)"})
    except Exception as e:  # report, do not hide, other failures
        conn.send({"ok": False, "why": f"{type(e).__name__}: {e}"[:80],
                   "trace": traceback.format_exc()})
    conn.close()


def run_child(method, sim, neuron, limit_bytes):
    ctx = multiprocessing.get_context("spawn")
    parent_end, child_end = ctx.Pipe(duplex=False)
    proc = ctx.Process(target=child, args=(method, sim, neuron, limit_bytes, child_end))
    proc.start()
    child_end.close()
    try:
        result = parent_end.recv()
    except EOFError:
        result = {"ok": False, "why": "child died"}
    proc.join()
    if proc.exitcode not in (0, None) and result.get("ok"):
        result = {"ok": False, "why": f"exit code {proc.exitcode}"}
    return result


def blas_name():
    try:
        from threadpoolctl import threadpool_info
        info = [f"{d['internal_api']} {d.get('architecture', '')} "
                f"{d['num_threads']} threads" for d in threadpool_info()
                if d["user_api"] == "blas"]
        return ", ".join(info) or "reference BLAS (not seen by threadpoolctl)"
    except ImportError:
        return "unknown"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--limit-gib", type=float, default=6.0)
    parser.add_argument("--sizes", default=",".join(f"{n}:{t}" for n, t in DEFAULT_SIZES))
    parser.add_argument("--methods", default=",".join(METHODS))
    args = parser.parse_args()
    sizes = [tuple(int(v) for v in s.split(":")) for s in args.sizes.split(",")]
    methods = args.methods.split(",")
    limit = int(args.limit_gib * 2**30)
    neuron = 0
    import numpy.linalg  # noqa: F401  (loads the BLAS for blas_name)
    print(f"BLAS: {blas_name()}; address-space limit {args.limit_gib:g} GiB per fit; "
          f"neuron {neuron} of each population; model: 5 raised cosines x 100 taps, "
          f"5 stimulus lags")
    print()
    print("| N | T | design | method | build s | fit s | total s | x matrix-free "
          "| peak extra MiB | bias | stimulus | history | coupling |")
    print("| ---: | ---: | ---: | --- | ---: | ---: | ---: | ---: | ---: | ---: "
          "| ---: | ---: | ---: |")
    for n, t in sizes:
        sim = worked.simulate(n, t / 1000, 0)
        gib = t * nparams(sim) * 8 / 2**30  # the peers' design, constant included
        inputs_mib = (sum(s.nbytes for s in sim["spikes"])
                      + sim["stimulus"].nbytes) / 2**20
        drive_mib = 8 * t / 2**20
        reference = None
        for method in methods:
            r = run_child(method, sim, neuron, limit)
            if not r["ok"]:
                print(f"| {n} | {t} | {gib:.2f} GiB | {method} | {r['why']} "
                      "| | | | | | | | |", flush=True)
                continue
            total = r["build"] + r["fit"]
            if method == "matrix-free":
                reference = total
                bound = 3 * (inputs_mib + drive_mib)
                note = (f"(inputs {inputs_mib:.1f} MiB + drive {drive_mib:.1f} MiB;"
                        f" 3x = {bound:.0f} MiB)")
            ratio = f"{total / reference:.1f}" if reference else ""
            e = worked.weight_errors(sim, r["theta"], neuron)
            print(f"| {n} | {t} | {gib:.2f} GiB | {method} | {r['build']:.2f} | "
                  f"{r['fit']:.2f} | {total:.2f} | {ratio} | {r['extra_mib']:.0f} | "
                  f"{e['bias']:.4f} | {e['stimulus']:.4f} | {e['history']:.4f} | "
                  f"{e['coupling']:.4f} |", flush=True)
        if reference is not None:
            print(f"|  |  |  | matrix-free memory {note} | | | | | | | | | |", flush=True)


if __name__ == "__main__":
    main()
