"""Synthetic spectra for each bundled topology.

Impedances come from the module itself (`Circuit.with_values(...).impedance`),
so training and run time share one set of element formulas. The distribution
is described in training/README.md; in short, a measurement window inside
1 mHz .. 1 MHz, parameters drawn so that every feature of the circuit shows
in that window, relative noise, and points in any order.
"""

from __future__ import annotations

import math
from dataclasses import dataclass

import numpy as np

from training.features import reactive_centroid, spectrum_features
from training.registry import Topology

F_LOWEST, F_HIGHEST = -3.0, 6.0  # log10 hertz
ARC_EDGE = 0.3                   # decades an arc centre may lie outside the window
MAX_NOISE = 0.03
PARASITIC_SHARE = 0.2            # spectra of L-free topologies given a stray inductance


@dataclass
class Spectrum:
    frequencies: np.ndarray
    impedances: np.ndarray
    params: np.ndarray   # true values in the topology's parameter order
    noise: float


def draw_window(rng: np.random.Generator) -> np.ndarray:
    """Ascending log-spaced frequencies: 2 to 9 decades, 5 to 20 points per decade."""
    span = rng.uniform(3.0, 9.0) if rng.random() < 0.9 else rng.uniform(2.0, 3.0)
    lo = rng.uniform(F_LOWEST, F_HIGHEST - span)
    per_decade = int(rng.integers(5, 21))
    f = np.logspace(lo, lo + span, int(span * per_decade) + 1)
    if rng.random() < 0.3:
        keep = rng.random(f.size) >= rng.uniform(0.0, 0.15)
        keep[[0, -1]] = True
        f = f[keep]
    return f


def _diffusion_modulus(kind: str, value: float, tau: float, omega: float) -> float:
    """Rough |Z| of a diffusion element, only used to judge whether it shows."""
    if kind == "W":
        return value * math.sqrt(2.0 / omega)
    x = omega * tau
    return value / min(x, math.sqrt(x))


def draw_params(topology: Topology, lo: float, hi: float, rng: np.random.Generator) -> dict[str, float]:
    """Values keyed by parameter name, redrawn until every feature shows in [lo, hi] (log10 Hz)."""
    names = set(topology.param_names)
    n_arcs = 2 if "R2.r" in names else 1
    cpe = topology.has("alpha")
    diffusion = "W" if topology.has("aw") else "Wo" if topology.has("tau") else None
    w_lo, w_hi = 2.0 * math.pi * 10.0**lo, 2.0 * math.pi * 10.0**hi
    while True:
        values = {"R0.r": 10.0 ** rng.uniform(-3.0, 4.0)}
        log_r = rng.uniform(-1.3, 2.5, n_arcs)
        if n_arcs == 2 and abs(log_r[0] - log_r[1]) > 1.5:
            continue
        centres = np.sort(rng.uniform(lo - ARC_EDGE, hi + ARC_EDGE, n_arcs))[::-1]
        omegas = 2.0 * math.pi * 10.0**centres
        for k in range(n_arcs):
            r = values["R0.r"] * 10.0 ** log_r[k]
            tau = 1.0 / omegas[k]
            values[f"R{k + 1}.r"] = r
            if cpe:
                alpha = rng.uniform(0.45, 1.0)
                values[f"CPE{k + 1}.q"] = tau**alpha / r
                values[f"CPE{k + 1}.alpha"] = alpha
            else:
                values[f"C{k + 1}.c"] = tau / r
        if diffusion is not None:
            last = n_arcs
            r, omega = values[f"R{last}.r"], omegas[-1]
            if diffusion == "W":
                value, tau_d = r * 10.0 ** rng.uniform(-1.3, 0.3) * math.sqrt(omega / 2.0), 0.0
                values[f"W{last}.aw"] = value
            else:
                value = r * 10.0 ** rng.uniform(-1.0, 1.3)
                tau_d = 1.0 / (2.0 * math.pi * 10.0 ** rng.uniform(lo - 0.7, math.log10(omega / (2.0 * math.pi))))
                values[f"Wo{last}.z0"], values[f"Wo{last}.tau"] = value, tau_d
            if _diffusion_modulus(diffusion, value, tau_d, w_lo) < 0.3 * r:
                continue
            if _diffusion_modulus(diffusion, value, tau_d, omega) > 3.0 * r:
                continue
        if "L0.l" in names:
            inductance = values["R0.r"] * 10.0 ** rng.uniform(-1.3, 0.7) / w_hi
            if omegas[0] * inductance > 0.5 * values["R1.r"]:
                continue
            values["L0.l"] = inductance
        return values


def point_order(count: int, rng: np.random.Generator) -> np.ndarray:
    """Ascending (40 %), descending (40 %) or shuffled (20 %), as instruments and users deliver them."""
    choice = rng.random()
    if choice < 0.4:
        return np.arange(count)
    if choice < 0.8:
        return np.arange(count)[::-1]
    return rng.permutation(count)


class Generator:
    """Draws spectra of one topology; holds the parsed circuits it evaluates."""

    def __init__(self, topology: Topology, parasitic: bool) -> None:
        import vorlane

        self.topology = topology
        self.circuit = vorlane.Circuit(topology.circuit)
        self.parasitic = parasitic and not topology.has("l")
        self.stray = vorlane.Circuit(topology.circuit + "-L9") if self.parasitic else None

    def draw(self, rng: np.random.Generator) -> Spectrum:
        f = draw_window(rng)
        values = draw_params(self.topology, math.log10(f[0]), math.log10(f[-1]), rng)
        params = np.array([values[name] for name in self.topology.param_names])
        if self.stray is not None and rng.random() < PARASITIC_SHARE:
            z_top = abs(complex(self.circuit.with_values(params.tolist()).impedance([f[-1]])[0]))
            stray = 10.0 ** rng.uniform(-2.0, 0.0) * z_top / (2.0 * math.pi * f[-1])
            z = np.asarray(self.stray.with_values(params.tolist() + [stray]).impedance(f))
        else:
            z = np.asarray(self.circuit.with_values(params.tolist()).impedance(f))
        noise = MAX_NOISE * rng.random() ** 1.5
        modulus = np.abs(z)
        z = z + noise * modulus * (rng.standard_normal(z.size) + 1j * rng.standard_normal(z.size))
        perm = point_order(f.size, rng)
        return Spectrum(f[perm], z[perm], params, noise)


def spectra(topology: Topology, count: int, seed: int, parasitic: bool = False) -> list[Spectrum]:
    generator = Generator(topology, parasitic)
    rng = np.random.default_rng(seed)
    return [generator.draw(rng) for _ in range(count)]


def training_arrays(topology: Topology, count: int, seed: int) -> dict[str, np.ndarray]:
    """Network inputs, scale estimates and true parameters of `count` fresh spectra."""
    generator = Generator(topology, parasitic=True)
    rng = np.random.default_rng(seed)
    features = np.empty((count, 3, 64), dtype=np.float32)
    meta = np.empty((count, 2), dtype=np.float32)
    scales = np.empty((count, 2))
    params = np.empty((count, topology.n_params))
    for i in range(count):
        spectrum = generator.draw(rng)
        z_scale, w_scale = reactive_centroid(spectrum.frequencies, spectrum.impedances)
        matrix, pair = spectrum_features(spectrum.frequencies, spectrum.impedances, z_scale, w_scale)
        features[i], meta[i], scales[i], params[i] = matrix, pair, (z_scale, w_scale), spectrum.params
    return {"features": features, "meta": meta, "z_scale": scales[:, 0], "w_scale": scales[:, 1],
            "params": params}
