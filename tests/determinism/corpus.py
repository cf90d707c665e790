"""A fixed corpus of evaluations, guesses and fits whose results must have the
same bits on every processor and with every kernel variant.

Run it under each variant (VORLANE_KERNEL_VARIANT=avx512, avx2, baseline) and
compare the hashes it prints: one line per section, then the variant that
ran. Inputs come only from decimal literals, the bundled spectra and a seeded
uniform generator, never from numpy's transcendental functions, whose
results depend on the processor themselves.

Usage: python corpus.py [--json]
"""

import hashlib
import json
import sys
import warnings

import numpy as np

import vorlane

# 1-2.2-4.7 per decade from 10 mHz to 100 kHz, parsed from decimal text.
FREQUENCIES = [float(f"{mantissa}e{exponent}") for exponent in range(-2, 5) for mantissa in ("1", "2.2", "4.7")]
FREQUENCIES.append(1e5)

# Circuits without a bundled network, fitted from a zero-configuration start.
ANY_CIRCUITS = {
    "R0-(R1,CPE1)-(R2,CPE2)-(R3,CPE3)": [5, 20, 1e-5, 0.9, 40, 1e-3, 0.8, 30, 0.1, 0.85],
    "L0-R0-(R1,CPE1)-Wo1": [1e-6, 3, 25, 2e-4, 0.88, 40, 2],
    "R0-(R1,C1)-(R2-(R3,CPE3),CPE2)": [2, 30, 1e-6, 10, 50, 1e-2, 0.7, 5e-4, 0.9],
}

# Differential evolution seeds itself from the operating system by design,
# so it has no place here.
GLOBAL_METHODS = {
    "particle_swarm": {"num_particles": 30, "generations": 40},
    "nelder_mead": {"nelder_mead_iterations": 400},
    "simulated_annealing": {"sa_iterations": 600},
    "basin_hopping": {"basin_hopping_hops": 4},
}


def noisy(circuit, values, seed, level=0.01):
    """The circuit's spectrum with relative uniform noise of the given level."""
    z = circuit.with_values(values).impedance(FREQUENCIES)
    u = np.random.default_rng(seed).random((2, len(z)))
    return z * (1.0 + level * (u[0] - 0.5)) + 1j * np.abs(z) * level * (u[1] - 0.5)


def fit_record(result):
    return [result.circuit.param_values(), result.cost, result.success, result.iterations, result.impedance_evals]


def bundled_topologies():
    """Each bundled topology: its impedance at its placeholder values, the
    network's guess on it, and a default fit of a noisy version."""
    records = []
    for name in vorlane.Circuit.ml_circuits():
        circuit = vorlane.Circuit(name)
        values = circuit.param_values()
        z = noisy(circuit, values, seed=len(records))
        guess = circuit.guess(FREQUENCIES, z)
        records.append([name, circuit.with_values(values).impedance(FREQUENCIES), guess,
                        fit_record(circuit.fit(FREQUENCIES, z))])
    return records


def any_circuits():
    records = []
    for seed, (text, values) in enumerate(ANY_CIRCUITS.items()):
        circuit = vorlane.Circuit(text)
        z = noisy(circuit, values, seed)
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # no network: the fit says so
            records.append([text, fit_record(circuit.fit(FREQUENCIES, z))])
    return records


def real_spectra():
    """Zero-configuration fits and the Kramers-Kronig check of the bundled
    measured spectra."""
    records = []
    for name in ("dummy_cell_a_1", "li_ion_cell", "autolab_cell"):
        frequencies, impedances = vorlane.datasets.load_arrays(name)
        kk = vorlane.kramers_kronig(frequencies, impedances)
        fit = vorlane.Circuit("R0-(R1,CPE1)-(R2,CPE2)").fit(frequencies, impedances)
        records.append([name, kk.m, kk.mu, kk.pseudo_chi_square, kk.noise, kk.systematic, kk.valid,
                        kk.outliers.tolist(), fit_record(fit)])
    return records


def global_methods():
    circuit = vorlane.Circuit("R0-(R1,CPE1)").with_values([10, 100, 1e-5, 0.9])
    z = noisy(circuit, circuit.param_values(), seed=7)
    return [[method, fit_record(circuit.fit(FREQUENCIES, z, method=method, seed=3, **options))]
            for method, options in GLOBAL_METHODS.items()]


def batch():
    circuit = vorlane.Circuit("R0-(R1,CPE1)-(R2,CPE2)")
    truth = [5, 20, 1e-5, 0.9, 40, 1e-3, 0.8]
    spectra = []
    for k in range(6):
        values = list(truth)
        values[3] = 0.9 - 0.01 * k
        spectra.append((FREQUENCIES, noisy(circuit, values, seed=100 + k)))
    records = [fit_record(r) for r in circuit.fit_many(spectra, workers=2)]
    records += [fit_record(r) for r in circuit.fit_many(spectra, warm_start=True)]
    return records


SECTIONS = {
    "bundled topologies": bundled_topologies,
    "circuits without a network": any_circuits,
    "measured spectra": real_spectra,
    "global methods": global_methods,
    "fit_many": batch,
}


def digest(value):
    """SHA-256 over the exact bits of every number in a nested record."""
    h = hashlib.sha256()

    def feed(item):
        if isinstance(item, (list, tuple)):
            h.update(b"[%d" % len(item))
            for entry in item:
                feed(entry)
            h.update(b"]")
        elif isinstance(item, np.ndarray):
            h.update(np.ascontiguousarray(item).tobytes())
        elif isinstance(item, (bool, int, str)):
            h.update(repr(item).encode())
        else:
            h.update(np.array(item, dtype=np.complex128).tobytes())

    feed(value)
    return h.hexdigest()


def main(argv):
    hashes = {name: digest(section()) for name, section in SECTIONS.items()}
    if "--json" in argv:
        print(json.dumps({"kernel_variant": vorlane.kernel_variant(), "hashes": hashes}))
    else:
        for name, value in hashes.items():
            print(f"{value[:16]}  {name}")
        print(f"kernel variant: {vorlane.kernel_variant()}")


if __name__ == "__main__":
    main(sys.argv[1:])
