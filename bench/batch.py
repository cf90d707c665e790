"""Fitting many spectra: a Python loop of Circuit.fit against Circuit.fit_many
on one worker, on every core and warm-started, and against a loop of
scipy.optimize.least_squares, all on the same spectra.

The study is an ageing series of R0-(R1,CPE1) (a bundled topology, so every
vorlane fit starts from the network's guess): 60 points from 10 mHz to
100 kHz, R1 growing threefold along the series, 1 % complex Gaussian noise.
scipy fits the numpy model of bench/fit.py with the same modulus weighting,
from the same guess (computed inside its loop too). The contenders run in
turn, --repeats rounds; each one's best time counts, which keeps other load on the
machine out of the comparison as far as possible. The load average is
printed with the table, and the processor time per fit (all threads),
which other load does not inflate: equal processor time per fit means
fit_many's throughput scales with the idle cores it gets.

    python bench/batch.py [--spectra N] [--repeats R]
"""

from __future__ import annotations

import argparse
import os
import time

import numpy as np

import vorlane
from fit import FREQS, NOISE, TOPOLOGIES, scipy_fit

MODEL, TRUTH = TOPOLOGIES["rq"]


def ageing_study(count, seed=7):
    circuit = vorlane.Circuit("rq")
    rng = np.random.default_rng(seed)
    spectra = []
    for k in range(count):
        values = list(TRUTH)
        values[1] *= 1 + 2 * k / max(count - 1, 1)
        z = circuit.with_values(values).impedance(FREQS)
        z = z + NOISE * np.abs(z) * (rng.standard_normal(z.size) + 1j * rng.standard_normal(z.size))
        spectra.append((FREQS, z))
    return spectra


def scipy_loop(circuit, spectra):
    bounds = circuit.param_bounds()
    return [scipy_fit(MODEL, circuit.guess(f, z), z, bounds)[1] for f, z in spectra]


def timed(run):
    """Wall time, processor time (all threads) and result of one run."""
    start, start_cpu = time.perf_counter(), time.process_time()
    result = run()
    return time.perf_counter() - start, time.process_time() - start_cpu, result


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--spectra", type=int, default=400, help="spectra in the study")
    parser.add_argument("--repeats", type=int, default=3, help="runs per contender; the best counts")
    args = parser.parse_args()
    circuit = vorlane.Circuit("rq")
    spectra = ageing_study(args.spectra)
    load_before = os.getloadavg()[0]
    contenders = {
        "loop of fit": lambda: [circuit.fit(f, z) for f, z in spectra],
        "fit_many, 1 worker": lambda: circuit.fit_many(spectra, workers=1),
        f"fit_many, {os.cpu_count()} cores": lambda: circuit.fit_many(spectra),
        "fit_many, warm_start": lambda: circuit.fit_many(spectra, warm_start=True),
        "loop of scipy least_squares": lambda: scipy_loop(circuit, spectra),
    }
    # Rounds of every contender in turn, so that load coming and going on
    # the machine does not favour the one that happens to run in a quiet spell.
    times, cpu, results = dict.fromkeys(contenders, float("inf")), {}, {}
    for _ in range(args.repeats):
        for name, run in contenders.items():
            wall, processor, results[name] = timed(run)
            if wall < times[name]:
                times[name], cpu[name] = wall, processor
    load_after = os.getloadavg()[0]

    baseline = times["loop of fit"]
    header = f"{'contender':<30} {'fits/s':>9} {'vs loop of fit':>15} {'cpu ms/fit':>11}"
    print(f"{args.spectra} spectra of R0-(R1,CPE1), best of {args.repeats}")
    print(header)
    print("-" * len(header))
    for name, seconds in times.items():
        print(f"{name:<30} {args.spectra / seconds:>9.0f} {baseline / seconds:>14.2f}x "
              f"{cpu[name] / args.spectra * 1e3:>11.3f}")
    print("-" * len(header))
    loop = [repr(r) for r in results["loop of fit"]]
    identical = all([repr(r) for r in results[name]] == loop for name in list(contenders)[1:3])
    warm_cost = np.median([r.cost for r in results["fit_many, warm_start"]])
    print(f"fit_many results identical to the loop's: {'yes' if identical else 'NO'}; median cost: "
          f"loop {np.median([r.cost for r in results['loop of fit']]):.4g}, warm start {warm_cost:.4g}, "
          f"scipy {np.median(results['loop of scipy least_squares']):.4g}")
    print(f"load average (1 min) before / after: {load_before:.2f} / {load_after:.2f} on {os.cpu_count()} cores")


if __name__ == "__main__":
    main()
