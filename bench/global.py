"""The five global fitting methods against the default least-squares method.

For each of two topologies with two arcs, and for every run: a spectrum of 60
points (10 mHz to 100 kHz) from random known parameters with 1 % complex
Gaussian noise, and a bad start: every parameter on a logarithmic scale
moved by a random factor between 10^-1.5 and 10^1.5, every exponent drawn
anew in [0.3, 0.99]. All six methods fit the same spectrum from the same
start with their default settings (seeded by the run number where a method
takes a seed).

A fit reaches the global optimum when its cost is at most (1 + 1e-3) times
c*, the lowest cost of any method from this start or of the default method
from the true parameters. The table shows each method's median time, its
ratio to the default method's median time, and the share of runs in which
it reached the global optimum next to the default method's share, and the
number of runs it ended with an error (a solver error counts as a miss).

    python bench/global.py [--runs N]
"""

from __future__ import annotations

import argparse
import statistics
import time
import warnings

import numpy as np

import vorlane

FREQS = np.logspace(-2, 5, 60)
NOISE = 0.01
SUCCESS_SLACK = 1e-3
DEFAULT = "levenberg_marquardt"
METHODS = [DEFAULT, "nelder_mead", "particle_swarm", "differential_evolution", "simulated_annealing",
           "basin_hopping"]

# (log10 low, log10 high) for magnitudes, (low, high) for exponents.
TOPOLOGIES = {
    "two_rq": ("R0-(R1,CPE1)-(R2,CPE2)", {
        "R0.r": ("log", -1, 1), "R1.r": ("log", 0, 2), "CPE1.q": ("log", -6, -4), "CPE1.alpha": ("lin", 0.7, 0.95),
        "R2.r": ("log", 0.5, 2.5), "CPE2.q": ("log", -4, -2), "CPE2.alpha": ("lin", 0.6, 0.9),
    }),
    "sei_randles_wo": ("R0-(R1,CPE1)-(R2-Wo2,CPE2)", {
        "R0.r": ("log", -1, 1), "R1.r": ("log", 0, 2), "CPE1.q": ("log", -6, -4), "CPE1.alpha": ("lin", 0.7, 0.95),
        "R2.r": ("log", 0.5, 2.5), "Wo2.z0": ("log", 0, 2), "Wo2.tau": ("log", -1, 1),
        "CPE2.q": ("log", -4, -2), "CPE2.alpha": ("lin", 0.6, 0.9),
    }),
}


def draw_truth(ranges: dict, rng: np.random.Generator) -> dict:
    return {name: 10 ** rng.uniform(lo, hi) if kind == "log" else rng.uniform(lo, hi)
            for name, (kind, lo, hi) in ranges.items()}


def bad_start(truth: dict, ranges: dict, rng: np.random.Generator) -> dict:
    return {name: value * 10 ** rng.uniform(-1.5, 1.5) if ranges[name][0] == "log" else rng.uniform(0.3, 0.99)
            for name, value in truth.items()}


def timed_fit(circuit: vorlane.Circuit, z: np.ndarray, method: str, seed: int) -> tuple[float, float | None]:
    """Seconds taken and the cost reached; no cost when the method ended with an error."""
    begin = time.perf_counter()
    try:
        cost = circuit.fit(FREQS, z, method=method, seed=seed).cost
    except ValueError:
        cost = None
    return time.perf_counter() - begin, cost


def run_topology(text: str, ranges: dict, runs: int, rng: np.random.Generator) -> dict:
    times = {m: [] for m in METHODS}
    hits = {m: 0 for m in METHODS}
    errors = {m: 0 for m in METHODS}
    for run in range(runs):
        truth = draw_truth(ranges, rng)
        exact = vorlane.Circuit(text).with_named_values(truth)
        z = exact.impedance(FREQS)
        z = z + NOISE * np.abs(z) * (rng.standard_normal(z.size) + 1j * rng.standard_normal(z.size)) / np.sqrt(2)
        start = vorlane.Circuit(text).with_named_values(bad_start(truth, ranges, rng))
        costs = {}
        for method in METHODS:
            elapsed, costs[method] = timed_fit(start, z, method, run)
            times[method].append(elapsed)
        reached = [c for c in costs.values() if c is not None]
        optimum = min([exact.fit(FREQS, z).cost, *reached])
        for method, cost in costs.items():
            errors[method] += cost is None
            hits[method] += cost is not None and cost <= (1 + SUCCESS_SLACK) * optimum
    return {m: (statistics.median(times[m]), hits[m], errors[m]) for m in METHODS}


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    rng = np.random.default_rng(20240611)
    warnings.simplefilter("ignore")
    header = (f"{'topology':<16}{'method':<24}{'median s':>10}{'x default':>11}{'optimum':>9}{'default':>9}"
              f"{'errors':>8}")
    print(header)
    print("-" * len(header))
    for name, (text, ranges) in TOPOLOGIES.items():
        rows = run_topology(text, ranges, args.runs, rng)
        base_time, base_hits, _ = rows[DEFAULT]
        for method, (median, hits, errors) in rows.items():
            print(f"{name:<16}{method:<24}{median:>10.3f}{median / base_time:>11.1f}"
                  f"{hits:>5}/{args.runs:<3}{base_hits:>5}/{args.runs:<3}{errors:>6}")


if __name__ == "__main__":
    main()
