"""Network inputs and targets, computed exactly as the module computes them.

`spectrum_features` mirrors the module's feature computation operation by
operation (sequential sums, stable total-order sort, the same phase
unwrapping and interpolation formula), so a network trained on these inputs
sees at run time what it saw in training. `to_targets` is the exact inverse
of the module's de-normalisation of the network outputs, `from_outputs` that
de-normalisation itself.
"""

from __future__ import annotations

import math

import numpy as np

from training.registry import ALPHA_MAX, ALPHA_MIN, N_GRID

TWO_PI = 6.283185307179586
HALF_PI = 1.5707963267948966
CENTROID_THRESHOLD = 1e-9

_SIGN_CLEARED = np.int64(0x7FFFFFFFFFFFFFFF)


def _sequential_sum(values: np.ndarray) -> float:
    """Left-to-right sum, the order the module adds in (np.sum is pairwise)."""
    return float(np.cumsum(values)[-1]) if values.size else 0.0


def total_order_keys(values: np.ndarray) -> np.ndarray:
    """Integers that sort like the IEEE 754 totalOrder of the doubles."""
    bits = np.ascontiguousarray(values, dtype=np.float64).view(np.int64)
    return bits ^ ((bits >> 63) & _SIGN_CLEARED)


def reactive_centroid(frequencies: np.ndarray, impedances: np.ndarray) -> tuple[float, float]:
    """(z_scale, w_scale): capacitive-share weighted geometric centroids."""
    f = np.asarray(frequencies, dtype=np.float64)
    z = np.asarray(impedances, dtype=np.complex128)
    n = min(f.size, z.size)
    f_used, z_used = f[:n], z[:n]
    modulus = np.hypot(z_used.real, z_used.imag)
    keep = ~((f_used <= 0.0) | (modulus <= 0.0))
    f_used, z_used, modulus = f_used[keep], z_used[keep], modulus[keep]
    with np.errstate(divide="ignore", invalid="ignore"):
        share = -z_used.imag / modulus
    weight = np.where(share > 0.0, share, 0.0)
    total = _sequential_sum(weight)
    if total >= CENTROID_THRESHOLD:
        with np.errstate(divide="ignore", invalid="ignore"):
            a = _sequential_sum(weight * np.log(modulus))
            b = _sequential_sum(weight * np.log(TWO_PI * f_used))
        return math.exp(a / total), math.exp(b / total)
    with np.errstate(divide="ignore", invalid="ignore"):
        w_scale = math.exp(_sequential_sum(np.log(TWO_PI * f)) / f.size)
    moduli = np.hypot(z.real, z.imag)
    z_scale = float(moduli[np.argsort(total_order_keys(moduli), kind="stable")][z.size // 2])
    return z_scale, w_scale


def interpolate(x: np.ndarray, xs: np.ndarray, ys: np.ndarray) -> np.ndarray:
    """Piecewise-linear on ascending xs with constant extension beyond the ends."""
    x = np.asarray(x, dtype=np.float64)
    upper = np.clip(np.searchsorted(xs, x, side="right"), 1, xs.size - 1)
    lo, hi = upper - 1, upper
    with np.errstate(divide="ignore", invalid="ignore"):
        inner = ys[lo] + (x - xs[lo]) * (ys[hi] - ys[lo]) / (xs[hi] - xs[lo])
    inner = np.where(xs[lo] == xs[hi], ys[lo], inner)
    return np.where(x <= xs[0], ys[0], np.where(x >= xs[-1], ys[-1], inner))


def unwrapped_phase(impedances: np.ndarray) -> np.ndarray:
    raw = np.arctan2(impedances.imag, impedances.real).tolist()
    phase = [raw[0]]
    for a in raw[1:]:
        previous = phase[-1]
        d = a - previous
        wrapped = d - TWO_PI * math.floor((d + math.pi) / TWO_PI)
        if wrapped == -math.pi and a > previous:
            wrapped = math.pi
        phase.append(previous + wrapped)
    return np.array(phase)


def spectrum_features(frequencies: np.ndarray, impedances: np.ndarray, z_scale: float, w_scale: float,
                      n_grid: int = N_GRID) -> tuple[np.ndarray, tuple[float, float]]:
    """The 3 x n_grid input matrix and the meta pair of one spectrum."""
    f = np.asarray(frequencies, dtype=np.float64)
    z = np.asarray(impedances, dtype=np.complex128)
    order = np.argsort(total_order_keys(f), kind="stable")
    f, z = f[order], z[:f.size][order]
    with np.errstate(divide="ignore", invalid="ignore"):
        lf = np.log10(f)
        lm = np.log10(np.hypot(z.real, z.imag))
    phase = unwrapped_phase(z)
    lo, hi = float(lf[0]), float(lf[-1])
    step = (hi - lo) / (n_grid - 1) if n_grid >= 2 else 0.0
    grid = lo + step * np.arange(n_grid, dtype=np.float64)
    matrix = np.empty((3, n_grid))
    matrix[0] = interpolate(grid, lf, lm) - math.log10(z_scale)
    matrix[1] = interpolate(grid, lf, phase) / HALF_PI
    matrix[2] = (grid - math.log10(w_scale / TWO_PI)) * 0.25
    return matrix, ((hi - lo) * 0.125, 0.5 * math.log10(f.size))


def _scale_factors(scaling: np.ndarray, dimensionless: np.ndarray, z_scale: np.ndarray,
                   w_scale: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """w_scale**e and z_scale**z_exponent per parameter, e coupled to another output."""
    coupled = np.rint(scaling[:, 3]).astype(int)
    exponent = np.broadcast_to(scaling[:, 1], dimensionless.shape).copy()
    for i in np.flatnonzero(coupled >= 0):
        exponent[..., i] += scaling[i, 2] * dimensionless[..., coupled[i]]
    w = np.power(np.asarray(w_scale, dtype=np.float64)[..., None], exponent)
    z = np.power(np.asarray(z_scale, dtype=np.float64)[..., None], scaling[:, 0])
    return w, z


def to_targets(params: np.ndarray, z_scale: np.ndarray, w_scale: np.ndarray, scaling: np.ndarray,
               log_params: np.ndarray, mean: np.ndarray, std: np.ndarray) -> np.ndarray:
    """Standardised network targets of physical parameters (rows of P values).

    Exponents are never re-dimensioned, so they serve both as the coupled
    exponent of their CPE coefficient and as their own dimensionless value.
    """
    params = np.asarray(params, dtype=np.float64)
    w, z = _scale_factors(scaling, params, z_scale, w_scale)
    dimensionless = params / w / z
    value = np.where(log_params, np.log10(np.where(log_params, dimensionless, 1.0)), dimensionless)
    return (value - mean) / std


def from_outputs(outputs: np.ndarray, z_scale: np.ndarray, w_scale: np.ndarray, scaling: np.ndarray,
                 log_params: np.ndarray, mean: np.ndarray, std: np.ndarray) -> np.ndarray:
    """Physical parameters from the network's first P outputs, as the module forms them."""
    value = np.asarray(outputs, dtype=np.float64) * std + mean
    value = np.where(log_params, np.power(10.0, value), value)
    clamped = np.where(~log_params & (value < ALPHA_MIN), ALPHA_MIN, value)
    clamped = np.where(~log_params & (clamped > ALPHA_MAX), ALPHA_MAX, clamped)
    w, z = _scale_factors(scaling, clamped, z_scale, w_scale)
    return w * clamped * z
