"""The linear Kramers-Kronig test: the plain test agrees with a numpy
version of it on the real spectra; the verdict passes valid spectra (real
and synthetic) and fails drifting and non-causal ones; outliers; every
spectrum form, the result object and hostile input."""

import threading
import time

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
    {"m": 7, "capacitance": False, "inductance": True},
    {"mu_cutoff": 0.5},
]


@pytest.mark.parametrize("name", SPECTRUM_FILES)
@pytest.mark.parametrize("options", OPTIONS, ids=lambda o: ",".join(f"{k}={v}" for k, v in o.items()) or "default")
def test_plain_test_agrees_with_numpy_on_every_real_spectrum(name, options):
    measured = read_spectrum(name)
    f, z = measured.frequencies, measured.impedances
    result = vorlane.kramers_kronig(f, z, method="mu", **options)
    assert not result.outliers.any()
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
@pytest.mark.parametrize("seed", [0, 1])
def test_valid_spectrum_passes_with_its_noise_estimated(noise, seed):
    f, z = two_arc_spectrum(noise=noise, seed=seed)
    result = vorlane.kramers_kronig(f, z)
    assert result.valid
    assert not result.outliers.any()
    assert result.noise / 100 == pytest.approx(noise, rel=0.3)
    assert result.systematic <= result.threshold
    assert rms(result) < 2 * noise


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
    assert valid.valid and not invalid.valid
    assert invalid.systematic > invalid.threshold
    assert invalid.systematic > 2 * invalid.noise  # the drift is structure, not noise


def test_non_causal_distortion_fails_where_it_is():
    """A bump in the imaginary part alone, with no matching change of the
    real part, breaks the Kramers-Kronig relations."""
    noise = 1e-3
    f, z = two_arc_spectrum(noise=noise)
    bump = 0.05 * np.abs(z) * np.exp(-0.5 * ((np.log10(f) - 1.0) / 0.15) ** 2)
    result = vorlane.kramers_kronig(f, z - 1j * bump)
    worst = np.argmax(np.hypot(result.residuals_real, result.residuals_imag))
    assert abs(np.log10(f[worst]) - 1.0) < 0.5
    assert not result.valid
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
    result = vorlane.kramers_kronig(dummy_cell_a.frequencies, dummy_cell_a.impedances, m=5, capacitance=True,
                                    inductance=False)
    assert type(result).__name__ == "KramersKronigResult" and type(result) is vorlane.KramersKronigResult
    assert repr(result).startswith("KramersKronigResult(valid=")
    assert repr(result).endswith(f", points={len(dummy_cell_a.frequencies)})")
    # Every field the repr names is an attribute with the value it shows.
    for field, shown in (item.split("=") for item in repr(result)[len("KramersKronigResult("):-1].split(", ")):
        if field == "valid":
            assert shown == str(result.valid)
            continue
        value = {"points": len(result.impedance), "outliers": np.count_nonzero(result.outliers)}.get(
            field, getattr(result, field, None))
        assert float(shown) == pytest.approx(value, rel=1e-6)
    assert result.outliers.dtype == np.bool_ and result.outliers.shape == result.impedance.shape
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
        (([1.0], [1]), {"m": -1}, ValueError, "argument 'm'"),
        (([1.0], [1]), {"m": 2**64}, ValueError, "argument 'm'"),
        (([1.0], [1]), {"method": "Mu"}, ValueError, 'unknown method "Mu", expected "noise" or "mu"'),
        ((np.logspace(300, 308, 20), np.ones(20)), {}, ValueError,
         "frequencies must lie between 1e-100 and 1e100 Hz for the test: frequency 0 is 1e"),
        (([5e-324, 1.0], [1, 1]), {}, ValueError, "frequencies must lie between 1e-100 and 1e100 Hz"),
        (([1.0, 2.0], [1, 1e-200]), {}, ValueError,
         "impedances must have a modulus between 1e-100 and 1e100 ohm for the test: impedance 1"),
        (([1.0], [1]), {"m": 2.0}, TypeError, "argument 'm'"),
        (([1.0], [1]), {"mu_cutoff": 1.5}, ValueError, r"mu_cutoff must lie in \(0, 1\], got 1.5"),
        (([1.0], [1]), {"mu_cutoff": "high"}, TypeError, "argument 'mu_cutoff'"),
        (([1.0], [1]), {"part": "Real"}, ValueError,
         'unknown part "Real", expected "complex", "real" or "imaginary"'),
        (([1.0], [1]), {"weight": "Unit"}, ValueError, 'unknown weight scheme "Unit"'),
        (([1.0], [1]), {"capacitance": 1}, TypeError, "argument 'capacitance': expected bool or None, got 'int'"),
        (([1.0], [1]), {"inductance": "yes"}, TypeError, "argument 'inductance': expected bool or None"),
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


# The bundled measurements that are valid: physical test circuits and cells
# whose residuals are noise. gamry_cell's low-frequency end is not: below
# about 30 Hz its residuals follow a smooth curve of up to 10 % that no
# causal ladder follows.
VALID_MEASUREMENTS = ["dummy_cell_a_1", "dummy_cell_a_2", "dummy_cell_b_1", "dummy_cell_b_2", "dummy_cell_c_1",
                      "dummy_cell_c_2", "li_ion_cell", "autolab_cell", "instrument_versastudio", "instrument_zplot"]


@pytest.mark.parametrize("name", VALID_MEASUREMENTS)
def test_valid_measurements_pass_with_residuals_of_their_noise(name):
    f, z = vorlane.datasets.load_arrays(name)
    result = vorlane.kramers_kronig(f, z)
    assert result.valid
    kept = ~result.outliers
    largest = np.max(np.hypot(result.residuals_real, result.residuals_imag)[kept])
    assert 100 * largest < 6 * result.noise
    assert np.count_nonzero(result.outliers) <= 1


def test_structured_low_frequency_end_fails():
    f, z = vorlane.datasets.load_arrays("gamry_cell")
    result = vorlane.kramers_kronig(f, z)
    assert not result.valid
    assert result.systematic > 2 * result.threshold
    worst = np.argmax(np.hypot(result.residuals_real, result.residuals_imag))
    assert f[worst] < 1.0
    # Without the end the rest passes.
    assert vorlane.kramers_kronig(f[f > 30], z[f > 30]).valid


def test_an_outlier_is_left_out_and_named():
    f, z = two_arc_spectrum(noise=1e-3)
    z[25] *= 1.05
    result = vorlane.kramers_kronig(f, z)
    assert np.flatnonzero(result.outliers).tolist() == [25]
    assert result.valid
    assert result.noise / 100 == pytest.approx(1e-3, rel=0.3)
    # The fit follows the other points: the outlier's residual is its 5 %.
    assert np.hypot(result.residuals_real[25], result.residuals_imag[25]) == pytest.approx(0.05, rel=0.1)
    # The plain test keeps every point and pays for it.
    assert not vorlane.kramers_kronig(f, z, method="mu").outliers.any()


@pytest.mark.parametrize(
    "text, values, element",
    [
        ("L0-R0-(R1,CPE1)", [2e-6, 1.0, 100.0, 1e-4, 0.9], "inductance"),
        ("R0-(R1,CPE1)-C2", [10.0, 100.0, 1e-5, 0.9, 1e-3], "capacitance"),
    ],
)
def test_series_element_is_added_where_an_end_of_the_spectrum_needs_it(text, values, element):
    f = np.logspace(5, -2, 71)
    z = np.asarray(vorlane.Circuit(text).with_values(values).impedance(f))
    rng = np.random.default_rng(3)
    z = z + 2e-3 * np.abs(z) * (rng.standard_normal(len(f)) + 1j * rng.standard_normal(len(f)))
    result = vorlane.kramers_kronig(f, z)
    assert result.valid
    assert getattr(result, element) is not None
    if element == "inductance":
        assert result.inductance == pytest.approx(values[0], rel=0.05)
    else:
        assert result.capacitance == pytest.approx(values[-1], rel=0.05)


def test_choice_is_on_every_kind_of_point_order():
    """Shuffled points give the same ladder: structure is judged along
    frequency, not along the order of the input."""
    f, z = two_arc_spectrum(noise=1e-3)
    order = np.random.default_rng(0).permutation(len(f))
    plain, shuffled = vorlane.kramers_kronig(f, z), vorlane.kramers_kronig(f[order], z[order])
    assert shuffled.m == plain.m and shuffled.valid == plain.valid
    np.testing.assert_allclose(shuffled.impedance, plain.impedance[order], rtol=1e-9)
    assert shuffled.systematic == pytest.approx(plain.systematic, abs=1e-9)


def test_many_points_stay_fast():
    f = np.logspace(5, -2, 100_000)
    z = np.asarray(vorlane.Circuit("R0-(R1,CPE1)-(R2,CPE2)").with_values(VALUES).impedance(f))
    z = z + 5e-3 * np.abs(z) * np.random.default_rng(1).standard_normal(len(f))
    start = time.perf_counter()
    result = vorlane.kramers_kronig(f, z)
    assert time.perf_counter() - start < 10  # about 0.5 s here
    assert result.valid and result.noise == pytest.approx(0.5 / np.sqrt(2), rel=0.1)


def test_drop_outliers_keeps_every_other_row_in_every_form():
    import polars as pl

    f, z = two_arc_spectrum(noise=1e-3)
    z[25] *= 1.05
    # A DC row the check skips stays in the frame.
    columns = {"Frequency / Hz": [0.0, *f], "Real Impedance / ohm": [5.0, *z.real],
               "Imaginary Impedance / ohm": [0.0, *z.imag]}
    frame = pd.DataFrame(columns, index=np.arange(100, 100 + len(f) + 1))
    check = vorlane.kramers_kronig(frame)
    assert np.flatnonzero(check.outliers).tolist() == [25]
    kept = vorlane.drop_outliers(check, frame)
    assert len(kept) == len(frame) - 1 and 126 not in kept.index and kept["Frequency / Hz"].iloc[0] == 0.0
    assert vorlane.drop_outliers(check, pl.DataFrame(columns)).height == len(frame) - 1
    as_dict = vorlane.drop_outliers(check, columns)
    assert as_dict["Frequency / Hz"] == [0.0, *np.delete(f, 25)]
    f_kept, z_kept = vorlane.drop_outliers(vorlane.kramers_kronig(f, z), f, z)
    np.testing.assert_array_equal(f_kept, np.delete(f, 25))
    np.testing.assert_array_equal(z_kept, np.delete(z, 25))
    # What is left passes without outliers.
    again = vorlane.kramers_kronig(kept)
    assert again.valid and not again.outliers.any()


def test_drop_outliers_refuses_another_spectrum_or_no_check():
    f, z = two_arc_spectrum()
    check = vorlane.kramers_kronig(f, z)
    with pytest.raises(ValueError, match="the Kramers-Kronig check has 60 points but the spectrum has 59"):
        vorlane.drop_outliers(check, f[1:], z[1:])
    with pytest.raises(TypeError, match="expected a KramersKronigResult as the first argument, got 'tuple'"):
        vorlane.drop_outliers((f, z), f, z)
    with pytest.raises(TypeError, match="expected two sequences, or a pandas or polars dataframe"):
        vorlane.drop_outliers(check, "file.csv")
    with pytest.raises(ValueError, match="has no 'Frequency / Hz' column"):
        vorlane.drop_outliers(check, {"f": list(f)})
