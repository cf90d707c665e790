"""Nanoseconds per frequency point of Circuit.impedance, next to a numpy
vectorised evaluation of the same circuit measured in the same run.

Both sides start from a numpy float64 array of frequencies and end with a
numpy complex128 array; the ratio is numpy time / vorlane time, so values
above 1 mean vorlane is faster.
"""

import time

import numpy as np

import vorlane

SIZES = [10**2, 10**3, 10**4, 10**5, 10**6]
TARGET_SECONDS = 0.3


def rc_numpy(f, r0, r1, c1):
    s = 2j * np.pi * f
    return r0 + 1 / (1 / r1 + s * c1)


def rq_numpy(f, r0, r1, q1, a1):
    s = 2j * np.pi * f
    return r0 + 1 / (1 / r1 + q1 * s**a1)


def sei_wo_numpy(f, r0, r1, q1, a1, r2, z0, tau, q2, a2):
    s = 2j * np.pi * f
    root = np.sqrt(s * tau)
    warburg = z0 / (root * np.tanh(root))
    return r0 + 1 / (1 / r1 + q1 * s**a1) + 1 / (1 / (r2 + warburg) + q2 * s**a2)


CASES = [
    ("R0-(R1,C1)", [10.0, 100.0, 1e-5], rc_numpy),
    ("R0-(R1,CPE1)", [10.0, 100.0, 1e-5, 0.85], rq_numpy),
    ("R0-(R1,CPE1)-(R2-Wo2,CPE2)", [10.0, 20.0, 1e-4, 0.9, 30.0, 5.0, 2.0, 1e-3, 0.7], sei_wo_numpy),
]


def best_seconds(call):
    """The fastest of as many runs as fit in TARGET_SECONDS (at least three)."""
    call()
    best = float("inf")
    runs = 0
    start = time.perf_counter()
    while runs < 3 or time.perf_counter() - start < TARGET_SECONDS:
        t0 = time.perf_counter()
        call()
        best = min(best, time.perf_counter() - t0)
        runs += 1
    return best


def main():
    print(f"{'circuit':<28} {'points':>9} {'vorlane ns/pt':>14} {'numpy ns/pt':>12} {'ratio':>7}")
    for text, values, formula in CASES:
        circuit = vorlane.Circuit(text).with_values(values)
        for n in SIZES:
            f = np.logspace(-3, 6, n)
            ours = circuit.impedance(f)
            theirs = formula(f, *values)
            assert np.allclose(ours, theirs, rtol=1e-9), text
            vorlane_ns = best_seconds(lambda: circuit.impedance(f)) / n * 1e9
            numpy_ns = best_seconds(lambda: formula(f, *values)) / n * 1e9
            print(f"{text:<28} {n:>9} {vorlane_ns:>14.1f} {numpy_ns:>12.1f} {numpy_ns / vorlane_ns:>7.2f}")


if __name__ == "__main__":
    main()
