"""Circuit.fit against scipy.optimize.least_squares on the eleven bundled topologies.

For every topology and run: a spectrum of 60 points (10 mHz to 100 kHz) from
known parameters with 1 % complex Gaussian noise, and a start whose
parameters are the true ones scaled by a random factor between 1/3 and 3
(exponents `alpha` kept inside [0.05, 0.99]). Both contenders fit the same
spectrum from the same start with the same modulus weighting:

- vorlane: `circuit.with_values(start).fit(f, z)` (explicit start, no guess);
- vorlane zero-configuration: `circuit.fit(f, z)` on the circuit parsed from its
  name, so the fit starts from the network guess (guess + fit, timed together);
- scipy: `least_squares(method="trf", bounds=circuit bounds, x_scale="jac")`
  on a hand-written numpy model of the circuit, finite-difference Jacobian.

A fit reaches the global optimum when its cost is at most (1 + 1e-3) times
the optimum c*, the lowest cost found by either contender from this start
or from the true parameters (the noisy data's optimum lies at or below the
cost at the true parameters; starting there finds it). The zero-configuration
fit is judged against the same optimum, and its time is given as a multiple
of the explicit-start fit. Times are thread CPU times (every contender runs on
the calling thread at 60 points), so other load on the machine counts little.

    python bench/fit.py [--runs N]
"""

from __future__ import annotations

import argparse
import statistics
import time

import numpy as np
from scipy.optimize import least_squares

import vorlane

FREQS = np.logspace(-2, 5, 60)
OMEGA = 2 * np.pi * FREQS
NOISE = 0.01
SUCCESS_SLACK = 1e-3


def resistor(r):
    return r + 0j * OMEGA


def capacitor(c):
    return 1 / (1j * OMEGA * c)


def inductor(l_):
    return 1j * OMEGA * l_


def cpe(q, alpha):
    return 1 / (q * (1j * OMEGA) ** alpha)


def warburg(aw):
    return (aw - 1j * aw) / np.sqrt(OMEGA)


def open_warburg(z0, tau):
    s = np.sqrt(1j * OMEGA * tau)
    return z0 / (s * np.tanh(s))


def parallel(a, b):
    return 1 / (1 / a + 1 / b)


def rc(p):
    return resistor(p[0]) + parallel(resistor(p[1]), capacitor(p[2]))


def rq(p):
    return resistor(p[0]) + parallel(resistor(p[1]), cpe(p[2], p[3]))


def two_rc(p):
    return rc(p[:3]) + parallel(resistor(p[3]), capacitor(p[4]))


def two_rq(p):
    return rq(p[:4]) + parallel(resistor(p[4]), cpe(p[5], p[6]))


def randles(p):
    return resistor(p[0]) + parallel(resistor(p[1]) + warburg(p[2]), cpe(p[3], p[4]))


def sei_randles(p):
    return rq(p[:4]) + parallel(resistor(p[4]) + warburg(p[5]), cpe(p[6], p[7]))


def sei_randles_wo(p):
    return rq(p[:4]) + parallel(resistor(p[4]) + open_warburg(p[5], p[6]), cpe(p[7], p[8]))


def with_inductor(model):
    return lambda p: inductor(p[0]) + model(p[1:])


# numpy model and true values, both in the circuit's param_names() order
TOPOLOGIES = {
    "rc": (rc, [10, 100, 1e-5]),
    "rc_l": (with_inductor(rc), [1e-6, 10, 100, 1e-5]),
    "rq": (rq, [10, 100, 1e-5, 0.85]),
    "rq_l": (with_inductor(rq), [1e-6, 10, 100, 1e-5, 0.85]),
    "two_rc": (two_rc, [10, 50, 1e-6, 200, 1e-3]),
    "two_rc_l": (with_inductor(two_rc), [1e-6, 10, 50, 1e-6, 200, 1e-3]),
    "two_rq": (two_rq, [10, 50, 1e-6, 0.9, 200, 1e-3, 0.8]),
    "two_rq_l": (with_inductor(two_rq), [1e-6, 10, 50, 1e-6, 0.9, 200, 1e-3, 0.8]),
    "randles": (randles, [10, 100, 50, 1e-5, 0.9]),
    "sei_randles": (sei_randles, [10, 30, 1e-6, 0.9, 100, 50, 1e-4, 0.85]),
    "sei_randles_wo": (sei_randles_wo, [10, 30, 1e-6, 0.9, 100, 80, 10, 1e-4, 0.85]),
}


def weighted_residuals(model, p, z):
    diff = (model(p) - z) / np.abs(z)
    out = np.empty(2 * len(z))
    out[0::2] = diff.real
    out[1::2] = diff.imag
    return out


def scipy_fit(model, start, z, bounds):
    lower = [lo for lo, _ in bounds]
    upper = [hi for _, hi in bounds]
    x0 = np.clip(start, np.nextafter(lower, np.inf), np.nextafter(upper, -np.inf))
    t0 = time.thread_time()
    result = least_squares(lambda p: weighted_residuals(model, p, z), x0, bounds=(lower, upper),
                           method="trf", x_scale="jac")
    return time.thread_time() - t0, result.cost


def vorlane_fit(circuit, start, z):
    started = circuit.with_values(start)
    t0 = time.thread_time()
    result = started.fit(FREQS, z)
    return time.thread_time() - t0, result.cost


def zero_configuration_fit(circuit, z):
    t0 = time.thread_time()
    result = circuit.fit(FREQS, z)
    return time.thread_time() - t0, result.cost


def perturbed(names, truth, rng):
    start = []
    for name, value in zip(names, truth):
        factor = 3.0 ** rng.uniform(-1, 1)
        start.append(min(max(value * factor, 0.05), 0.99) if name.endswith("alpha") else value * factor)
    return start


def run_topology(name, runs):
    model, truth = TOPOLOGIES[name]
    circuit = vorlane.Circuit(name)
    names, bounds = circuit.param_names(), circuit.param_bounds()
    exact = circuit.with_values(truth).impedance(FREQS)
    if not np.allclose(model(truth), exact, rtol=1e-9, atol=0):
        raise SystemExit(f"{name}: the numpy model disagrees with vorlane")
    rng = np.random.default_rng(sum(map(ord, name)))
    times = {"vorlane": [], "scipy": [], "zero": []}
    wins = {"vorlane": 0, "scipy": 0, "zero": 0}
    for _ in range(runs):
        z = exact + NOISE * np.abs(exact) * (rng.standard_normal(len(exact)) + 1j * rng.standard_normal(len(exact)))
        start = perturbed(names, truth, rng)
        t_v, cost_v = vorlane_fit(circuit, start, z)
        t_s, cost_s = scipy_fit(model, start, z, bounds)
        t_z, cost_z = zero_configuration_fit(circuit, z)
        optimum = min(cost_v, cost_s, cost_z, vorlane_fit(circuit, truth, z)[1],
                      scipy_fit(model, truth, z, bounds)[1])
        for key, elapsed, cost in (("vorlane", t_v, cost_v), ("scipy", t_s, cost_s), ("zero", t_z, cost_z)):
            times[key].append(elapsed)
            wins[key] += cost <= optimum * (1 + SUCCESS_SLACK)
    return len(names), {k: statistics.median(v) for k, v in times.items()}, wins


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--runs", type=int, default=20, help="fits per topology and contender")
    args = parser.parse_args()
    header = (f"{'topology':<15} {'P':>2} {'vorlane ms':>11} {'scipy ms':>9} {'speed-up':>9} "
              f"{'zero-config ms':>15} {'/ vorlane':>10} {'vorlane opt':>12} {'scipy opt':>10} {'zero opt':>9}")
    print(header)
    print("-" * len(header))
    ratios = []
    for name in vorlane.Circuit.ml_circuits():
        p, median, wins = run_topology(name, args.runs)
        ratio = median["scipy"] / median["vorlane"]
        ratios.append(ratio)
        zero_ratio = median["zero"] / median["vorlane"]
        print(f"{name:<15} {p:>2} {median['vorlane'] * 1e3:>11.3f} {median['scipy'] * 1e3:>9.2f} {ratio:>8.1f}x "
              f"{median['zero'] * 1e3:>15.3f} {zero_ratio:>9.1f}x "
              f"{wins['vorlane']:>6}/{args.runs:<5} {wins['scipy']:>4}/{args.runs:<5} {wins['zero']:>3}/{args.runs:<5}")
    print("-" * len(header))
    print(f"median speed-up over scipy: {statistics.median(ratios):.1f}x; "
          f"'opt' = fits within {SUCCESS_SLACK:g} of the best cost found from the start or the truth; "
          f"'/ vorlane' = zero-configuration time over the explicit-start fit")


if __name__ == "__main__":
    main()
