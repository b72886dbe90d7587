"""Turns the JSON of kernel_benchmarks (run with repetitions, aggregates only)
into the Markdown tables of docs/benchmarks.md: the median ratio of each
contender to its same-run baseline with its goal, and the scaling table.

    python3 summarize_kernel_benchmarks.py results.json
"""
import json
import sys

# Goals on the kernel's ratio to its baseline, by workload.
GOALS = {"U1": 1.3, "U2": 1.3, "U1-2col": 1.3, "U2-1col": 1.3,
         "U3": 3.0, "U3-2col": 3.0, "S1": 1.5, "S2": 1.5, "S3": 3.0,
         "P1": 1.5, "P2": 1.5, "P3": 1.5, "AP1": 1.5, "AP2": 1.5, "AP3": 1.5}

# The baseline each family is timed against (the design-matrix rows name
# their own).
BASELINES = {"upsample": "memset, store loop", "upsample_adjoint": "reduce loop"}

UNIT_SECONDS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


def medians(results):
    rows = {}
    for entry in results["benchmarks"]:
        if entry.get("aggregate_name") != "median":
            continue
        name = entry["run_name"].replace("/manual_time", "")
        rows[name] = entry
    return rows


def seconds(entry):
    return entry["real_time"] * UNIT_SECONDS[entry["time_unit"]]


def ratio_table(rows):
    lines = ["| benchmark | median time | baseline (faster of) | baseline time"
             " | ratio | ratio to each baseline | goal | met |",
             "|---|---:|---|---:|---:|---|---:|---|"]
    for name, entry in rows.items():
        if name.startswith("scaling/"):
            continue
        # family/workload/contender, or family/workload for the adjoints,
        # whose one contender is the kernel.
        family, workload, *rest = name.split("/")
        contender = rest[0] if rest else "kernel"
        baseline = ("X' * r, X built" if contender == "vs_design"
                    else BASELINES.get(family, "add loop in cache"))
        ratio = entry["ratio"]
        goal = GOALS.get(workload) if contender == "kernel" else None
        met = "" if goal is None else ("yes" if ratio <= goal else
                                       "no (%.2fx over)" % (ratio / goal))
        each = ", ".join("%s %.2f" % (key[3:], value)
                         for key, value in sorted(entry.items())
                         if key.startswith("vs_"))
        lines.append("| %s | %.1f us | %s | %.1f us | %.2f | %s | %s | %s |" % (
            name, seconds(entry) * 1e6, baseline, entry["base_us"], ratio,
            each, "" if goal is None else "<= %.1f" % goal, met))
    return "\n".join(lines)


def scaling_table(rows):
    lines = ["| kernel | size | work units | median time | ns per unit"
             " | per-unit time / 1x |",
             "|---|---:|---:|---:|---:|---:|"]
    base = {}
    for name, entry in rows.items():
        if not name.startswith("scaling/"):
            continue
        _, kernel, factor = name.split("/")
        per_unit = seconds(entry) / entry["units"] * 1e9
        base.setdefault(kernel, per_unit)
        lines.append("| %s | %sx | %.0f | %.1f us | %.3f | %.2f |" % (
            kernel, factor, entry["units"], seconds(entry) * 1e6, per_unit,
            per_unit / base[kernel]))
    return "\n".join(lines)


def main():
    with open(sys.argv[1]) as f:
        results = json.load(f)
    rows = medians(results)
    context = results.get("context", {})
    print("Kernel benchmarks, %s, %s CPUs at %s MHz, library %s build; "
          "medians of %s repetitions." % (
              context.get("date", "?"), context.get("num_cpus", "?"),
              context.get("mhz_per_cpu", "?"),
              context.get("library_build_type", "?"),
              next(iter(rows.values()), {}).get("repetitions", "?")))
    print()
    print(ratio_table(rows))
    print()
    print(scaling_table(rows))
    return 0


if __name__ == "__main__":
    sys.exit(main())
