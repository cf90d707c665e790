"""The linear Kramers-Kronig test: agreement with a plain numpy version of
the same test on the real spectra, valid and invalid synthetic spectra,
every spectrum form, the result object and hostile input."""

import threading

import numpy as np
import pandas as pd
import pytest

import vorlane
from conftest import SPECTRUM_FILES, read_spectrum

TWO_PI = 6.283185307179586


def numpy_kramers_kronig(f, z, m=None, cutoff=0.85, part="complex", capacitance=False, inductance=False,
                         weight="modulus"):
    """The same test with numpy's SVD least squares: (m, mu, fitted Z)."""
    w = TWO_PI * f
    weights = 1 / np.abs(z) if weight == "modulus" else np.ones(len(z))

    def fit(m):
        tau = np.logspace(np.log10(1 / w.max()), np.log10(1 / w.min()), m) if m > 1 else np.array([1 / w.max()])
        columns = [np.ones(len(w), complex)] + [1 / (1 + 1j * w * t) for t in tau]
        # C and L columns scaled to at most 1, like the R columns: the
        # unscaled ones are up to 1e8 times larger on the real spectra.
        if capacitance:
            columns.append(-1j * w.min() / w)  # coefficient 1 / (C w_min)
        if inductance:
            columns.append(1j * w / w.max())  # coefficient L w_max
        a = np.array(columns).T * weights[:, None]
        b = z * weights
        resistors = slice(0, m + 1)
        reactive = slice(m + 1, None)
        x = np.zeros(a.shape[1])
        if part == "complex":
            x = np.linalg.lstsq(np.vstack([a.real, a.imag]), np.concatenate([b.real, b.imag]), rcond=None)[0]
        elif part == "real":
            x[resistors] = np.linalg.lstsq(a.real[:, resistors], b.real, rcond=None)[0]
            if a.shape[1] > m + 1:
                rest = b.imag - a.imag[:, resistors] @ x[resistors]
                x[reactive] = np.linalg.lstsq(a.imag[:, reactive], rest, rcond=None)[0]
        else:
            x[1:] = np.linalg.lstsq(a.imag[:, 1:], b.imag, rcond=None)[0]
            x[0] = np.linalg.lstsq(a.real[:, :1], b.real - a.real[:, 1:] @ x[1:], rcond=None)[0][0]
        r = x[1 : m + 1]
        negative, positive = -r[r < 0].sum(), r[r >= 0].sum()
        mu = 1.0 if negative == 0 else 1 - negative / positive if positive > 0 else -np.inf
        return mu, (np.array(columns).T @ x)

    if m is not None:
        return (m, *fit(m))
    limit = len(f)
    for m in range(1, limit + 1):
        mu, fitted = fit(m)
        if m >= 2 and mu < cutoff:
            break
    return m, mu, fitted


OPTIONS = [
    {},
    {"capacitance": True, "inductance": True},
    {"part": "real", "inductance": True},
    {"part": "imaginary"},
    {"weight": "unit", "capacitance": True},
    {"m": 7},
    {"mu_cutoff": 0.5},
]


@pytest.mark.parametrize("name", SPECTRUM_FILES)
@pytest.mark.parametrize("options", OPTIONS, ids=lambda o: ",".join(f"{k}={v}" for k, v in o.items()) or "default")
def test_agrees_with_numpy_on_every_real_spectrum(name, options):
    measured = read_spectrum(name)
    f, z = measured.frequencies, measured.impedances
    result = vorlane.kramers_kronig(f, z, **options)
    reference = {("mu_cutoff" if k == "mu_cutoff" else k): v for k, v in options.items()}
    if "mu_cutoff" in reference:
        reference["cutoff"] = reference.pop("mu_cutoff")
    m, mu, fitted = numpy_kramers_kronig(f, z, **reference)
    assert result.m == m
    assert result.mu == pytest.approx(mu, abs=1e-9)
    np.testing.assert_allclose(result.residuals_real, ((z - fitted) / np.abs(z)).real, rtol=0, atol=1e-9)
    np.testing.assert_allclose(result.residuals_imag, ((z - fitted) / np.abs(z)).imag, rtol=0, atol=1e-9)
    np.testing.assert_allclose(result.impedance, fitted, rtol=1e-9, atol=0)
    assert result.pseudo_chi_square == pytest.approx(np.sum(np.abs((z - fitted) / np.abs(z)) ** 2), rel=1e-9)


VALUES = [10, 40, 2e-5, 0.85, 80, 5e-3, 0.8]


def two_arc_spectrum(n=60, noise=0.0, seed=0):
    """R0-(R1,CPE1)-(R2,CPE2) from 100 kHz to 10 mHz, with relative complex
    noise of the given size."""
    f = np.logspace(5, -2, n)
    circuit = vorlane.Circuit("R0-(R1,CPE1)-(R2,CPE2)").with_values(VALUES)
    z = np.asarray(circuit.impedance(f))
    rng = np.random.default_rng(seed)
    z = z + noise * np.abs(z) * (rng.standard_normal(n) + 1j * rng.standard_normal(n))
    return f, z


def rms(result):
    return np.sqrt(np.mean(np.concatenate([result.residuals_real, result.residuals_imag]) ** 2))


@pytest.mark.parametrize("noise", [1e-4, 1e-3, 1e-2])
def test_valid_spectrum_passes_at_noise_level(noise):
    f, z = two_arc_spectrum(noise=noise)
    result = vorlane.kramers_kronig(f, z)
    assert rms(result) < 2 * noise
    assert result.pseudo_chi_square < 4 * len(f) * noise**2


def test_noise_free_circuit_leaves_tiny_residuals():
    f, z = two_arc_spectrum()
    assert rms(vorlane.kramers_kronig(f, z, m=30)) < 1e-4


def test_drift_during_the_sweep_fails():
    """The cell's resistances grow by 20 % while the sweep runs from high
    to low frequency: each point is valid, the spectrum is not."""
    noise = 1e-3
    f, z = two_arc_spectrum(noise=noise)
    progress = np.linspace(0, 1, len(f)) ** 2
    circuit = vorlane.Circuit("R0-(R1,CPE1)-(R2,CPE2)")
    grown = [[10, 40 * (1 + 0.2 * p), 2e-5, 0.85, 80 * (1 + 0.2 * p), 5e-3, 0.8] for p in progress]
    drifted = np.array([circuit.with_values(v).impedance([fi])[0] for fi, v in zip(f, grown)])
    drifted += z - np.asarray(circuit.with_values(VALUES).impedance(f))
    valid, invalid = vorlane.kramers_kronig(f, z), vorlane.kramers_kronig(f, drifted)
    assert rms(invalid) > 5 * noise
    assert invalid.pseudo_chi_square > 20 * valid.pseudo_chi_square


def test_non_causal_distortion_fails_where_it_is():
    """A bump in the imaginary part alone, with no matching change of the
    real part, breaks the Kramers-Kronig relations."""
    noise = 1e-3
    f, z = two_arc_spectrum(noise=noise)
    bump = 0.05 * np.abs(z) * np.exp(-0.5 * ((np.log10(f) - 1.0) / 0.15) ** 2)
    result = vorlane.kramers_kronig(f, z - 1j * bump)
    worst = np.argmax(np.hypot(result.residuals_real, result.residuals_imag))
    assert abs(np.log10(f[worst]) - 1.0) < 0.5
    assert rms(result) > 3 * noise
    assert result.pseudo_chi_square > 20 * vorlane.kramers_kronig(f, z).pseudo_chi_square


def test_every_spectrum_form_gives_the_same_result(dummy_cell_a):
    f, z = dummy_cell_a.frequencies, dummy_cell_a.impedances
    frame = pd.DataFrame(dummy_cell_a.columns)
    results = [
        vorlane.kramers_kronig(f, z),
        vorlane.kramers_kronig(list(f), list(z)),
        vorlane.kramers_kronig(tuple(f), z.tolist()),
        vorlane.kramers_kronig(frame),
        vorlane.kramers_kronig(dummy_cell_a.columns),
        vorlane.kramers_kronig(frame, None),
    ]
    for other in results[1:]:
        assert other.m == results[0].m
        assert np.array_equal(other.residuals_real, results[0].residuals_real)
        assert np.array_equal(other.impedance, results[0].impedance)


def test_dataframe_rows_at_non_positive_frequency_are_dropped(dummy_cell_a):
    columns = {k: [0.0, -1.0] + v for k, v in dummy_cell_a.columns.items()}
    with_zero_rows = vorlane.kramers_kronig(columns)
    assert len(with_zero_rows.impedance) == len(dummy_cell_a.frequencies)
    assert np.array_equal(with_zero_rows.residuals_imag,
                          vorlane.kramers_kronig(dummy_cell_a.columns).residuals_imag)


def test_result_object(dummy_cell_a):
    result = vorlane.kramers_kronig(dummy_cell_a.frequencies, dummy_cell_a.impedances, m=5, capacitance=True)
    assert type(result).__name__ == "KramersKronigResult" and type(result) is vorlane.KramersKronigResult
    assert repr(result).startswith("KramersKronigResult(m=5, mu=")
    assert repr(result).endswith(f", points={len(dummy_cell_a.frequencies)})")
    # Every field the repr names is an attribute with the value it shows.
    for field, shown in (item.split("=") for item in repr(result)[len("KramersKronigResult("):-1].split(", ")):
        value = len(result.impedance) if field == "points" else getattr(result, field)
        assert float(shown) == pytest.approx(value, rel=1e-6)
    assert result.max_abs_residual == max(np.max(np.abs(result.residuals_real)),
                                          np.max(np.abs(result.residuals_imag)))
    assert result.impedance.dtype == np.complex128 and result.residuals_real.dtype == np.float64
    assert result.time_constants.shape == result.resistances.shape == (5,)
    assert np.all(np.diff(result.time_constants) > 0)
    assert isinstance(result.capacitance, float) and result.inductance is None
    # immutable: attributes cannot be set, arrays handed out are copies
    with pytest.raises(AttributeError):
        result.m = 3
    result.residuals_real[:] = 99.0
    assert not np.any(result.residuals_real == 99.0)
    with pytest.raises(TypeError, match="No constructor defined for KramersKronigResult"):
        vorlane.KramersKronigResult()
    # the fitted elements reproduce the fitted impedance
    w = TWO_PI * dummy_cell_a.frequencies
    rebuilt = result.ohmic_resistance - 1j / (w * result.capacitance) + sum(
        r / (1 + 1j * w * t) for r, t in zip(result.resistances, result.time_constants))
    np.testing.assert_allclose(rebuilt, result.impedance, rtol=1e-12)


def test_threads_get_identical_results(measured_spectrum):
    f, z = measured_spectrum.frequencies, measured_spectrum.impedances
    expected = vorlane.kramers_kronig(f, z)
    results = [None] * 4

    def run(i):
        results[i] = vorlane.kramers_kronig(f, z)

    threads = [threading.Thread(target=run, args=(i,)) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for result in results:
        assert result.m == expected.m and np.array_equal(result.impedance, expected.impedance)


@pytest.mark.parametrize(
    "args, kwargs, error, message",
    [
        (([1.0, 0.0], [1, 1]), {}, ValueError, "frequencies must be finite and positive: frequency 1 is 0.0"),
        (([float("nan")], [1]), {}, ValueError, "frequencies must be finite and positive: frequency 0 is NaN"),
        (([1.0, 2.0], [1, complex("inf")]), {}, ValueError,
         r"impedances must be finite and nonzero: impedance 1 is \(inf, 0.0\)"),
        (([1.0], [0j]), {}, ValueError, r"impedances must be finite and nonzero: impedance 0 is \(0.0, 0.0\)"),
        (([], []), {}, ValueError, "a complex fit needs at least 1 measured points, got 0"),
        (([1.0], [1]), {"part": "real"}, ValueError, "a real fit needs at least 2 measured points, got 1"),
        (([1.0, 2.0], [1, 2]), {"m": 3}, ValueError, "m = 3 is too large: 2 measured points allow at most m = 2"),
        (([1.0], [1]), {"m": 0}, ValueError, "m must be at least 1"),
        (([1.0], [1]), {"m": -1}, OverflowError, "argument 'm'"),
        (([1.0], [1]), {"m": 2.0}, TypeError, "argument 'm'"),
        (([1.0], [1]), {"mu_cutoff": 1.5}, ValueError, r"mu_cutoff must lie in \(0, 1\], got 1.5"),
        (([1.0], [1]), {"mu_cutoff": "high"}, TypeError, "argument 'mu_cutoff'"),
        (([1.0], [1]), {"part": "Real"}, ValueError,
         'unknown part "Real", expected "complex", "real" or "imaginary"'),
        (([1.0], [1]), {"weight": "Unit"}, ValueError, 'unknown weight scheme "Unit"'),
        (([1.0], [1]), {"capacitance": 1}, TypeError, "argument 'capacitance': expected bool, got 'int'"),
        (([1.0], [1]), {"inductance": None}, TypeError, "argument 'inductance': expected bool"),
        (([1.0], [1], 3), {}, TypeError, "takes at most 2 positional arguments"),
        (("12", [1]), {}, TypeError, "'str' object cannot be converted to 'Sequence'"),
        (([1.0, 2.0], [1]), {}, ValueError, "frequencies and impedances must have the same length"),
        (([1.0],), {}, ValueError, "expected a dataframe with a"),
        (({"Frequency / Hz": [0.0], "Real Impedance / ohm": [1], "Imaginary Impedance / ohm": [1]},), {},
         ValueError, "no measured points"),
    ],
)
def test_hostile_input(args, kwargs, error, message):
    with pytest.raises(error, match=message):
        vorlane.kramers_kronig(*args, **kwargs)
