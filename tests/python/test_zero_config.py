"""Zero-configuration fits of any circuit: a bundled network for the part of
the circuit it knows, the rest estimated from the spectrum, and a further
search when the fit stays poor."""

import math
import warnings
from pathlib import Path

import numpy as np
import pytest

import vorlane
from conftest import DATA_DIR, SPECTRUM_FILES, read_spectrum

NO_MODEL_WARNING_START = "There is no ML model to guess initial parameters for this circuit."
NESTED = "R0-(R1-(R2,CPE2),CPE1)"
PARTIAL = ["L0-R0-(R1-W1,CPE1)", "L0-R0-(R1,CPE1)-(R2-Wo2,CPE2)", "R0-(R1,CPE1)-W2",
           "R0-(R1,C1)-(R2,C2)-(R3,C3)", "L0-R0-(R1,C1)-(R2,CPE2)-Wo3", "R9-(R1,CPE1)-L3-Zarc2",
           "R0-Zarc1-K2-W3"]


def quiet_fit(circuit, f, z, **kwargs):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return circuit.fit(f, z, **kwargs)


def one_percent_noise(circuit, truth, f, seed):
    """The circuit's impedance at `truth` with 1 % complex Gaussian noise."""
    rng = np.random.default_rng(seed)
    z = np.asarray(circuit.with_values(truth).impedance(f))
    return z + 0.01 * np.abs(z) * (rng.standard_normal(f.size) + 1j * rng.standard_normal(f.size))


def best_global_cost(text, f, z):
    circuit = vorlane.Circuit(text)
    runs = [("nelder_mead", None), ("basin_hopping", 1), ("simulated_annealing", 1)]
    return min(quiet_fit(circuit, f, z, method=m, seed=s).cost for m, s in runs)


@pytest.mark.parametrize("text, name", [
    ("L0-R0-(R1-W1,CPE1)", "autolab_cell.csv"),
    ("L0-R0-(R1,CPE1)-(R2-Wo2,CPE2)", "li_ion_cell.csv"),
    ("L0-R0-(R1,CPE1)-(R2-W2,CPE2)", "li_ion_cell.csv"),
    ("L0-R0-(R1,C1)-(R2,CPE2)-Wo3", "dummy_cell_a_1.csv"),
    ("R0-(R1,CPE1)-(R2,CPE2)-(R3,CPE3)", "gamry_cell.csv"),
])
def test_partial_matches_on_real_spectra_reach_the_global_methods(text, name):
    spectrum = read_spectrum(name)
    f, z = spectrum.frequencies, spectrum.impedances
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        result = vorlane.Circuit(text).fit(f, z)
    assert result.cost <= best_global_cost(text, f, z) * (1 + 1e-3)


@pytest.mark.parametrize("text", PARTIAL)
def test_partial_matches_do_not_warn_and_guess_finite_values_inside_bounds(text):
    spectrum = read_spectrum("li_ion_cell.csv")
    circuit = vorlane.Circuit(text)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        values = circuit.guess(spectrum.frequencies, spectrum.impedances)
        circuit.fit(spectrum.frequencies, spectrum.impedances)
    assert len(values) == len(circuit.param_names())
    for value, (lower, upper) in zip(values, circuit.param_bounds()):
        assert math.isfinite(value) and lower <= value <= upper


@pytest.mark.parametrize("text", [NESTED, "R0-C1", "L1-W2", "R0-(R1,L1)-Ws2", "T0", "Gs1-Tlmq2-La3"])
def test_the_no_model_warning_stays_word_for_word_when_no_network_contributes(text):
    spectrum = read_spectrum("dummy_cell_a_1.csv")
    circuit = vorlane.Circuit(text)
    with pytest.warns(UserWarning) as record:
        result = circuit.fit(spectrum.frequencies, spectrum.impedances)
    assert [str(w.message) for w in record] == [
        NO_MODEL_WARNING_START + " Supply your own with Circuit.with_named_values({...}) or "
        "Circuit.with_values([...]), or pass guess_init=False to silence this. Models available for "
        "'rc', 'rc_l', 'rq', 'rq_l', 'two_rc', 'two_rc_l', 'two_rq', 'two_rq_l', 'randles', 'sei_randles', "
        "'sei_randles_wo'"]
    assert math.isfinite(result.cost)
    with pytest.raises(ValueError, match="^No training data on this circuit"):
        circuit.guess(spectrum.frequencies, spectrum.impedances)


def test_a_nested_circuit_fits_exact_data_from_the_data_scaled_start():
    f = np.logspace(-2, 5, 50)
    truth = [5.0, 40.0, 200.0, 1e-3, 0.85, 2e-6, 0.9]
    z = vorlane.Circuit(NESTED).with_values(truth).impedance(f)
    with pytest.warns(UserWarning):
        result = vorlane.Circuit(NESTED).fit(f, z)
    assert result.cost < 1e-12


@pytest.mark.parametrize("text", PARTIAL + ["two_rq", "sei_randles_wo"])
def test_the_guess_is_the_start_the_fit_uses(text):
    spectrum = read_spectrum("li_ion_cell.csv")
    f, z = spectrum.frequencies, spectrum.impedances
    circuit = vorlane.Circuit(text)
    # Nelder-Mead is deterministic from its start and has no further stage.
    zero_config = circuit.fit(f, z, method="nelder_mead", nelder_mead_iterations=300)
    from_guess = circuit.with_values(circuit.guess(f, z)).fit(f, z, method="nelder_mead",
                                                              nelder_mead_iterations=300)
    assert zero_config.params == from_guess.params and zero_config.cost == from_guess.cost


def hard_spectrum(text, seed):
    """Arcs partly outside the window, few points, 2 % noise and outliers."""
    rng = np.random.default_rng(seed)
    f = np.logspace(-1, 3, 21)
    circuit = vorlane.Circuit(text)
    values = {"R0.r": 2.0, "R1.r": 30.0, "CPE1.q": 10 ** -3.3, "CPE1.alpha": 0.8, "R2.r": 50.0, "W2.aw": 20.0,
              "CPE2.q": 10 ** -1.2, "CPE2.alpha": 0.7, "L0.l": 1e-4}
    z = circuit.with_named_values({n: values[n] for n in circuit.param_names()}).impedance(f)
    z = z + 0.02 * np.abs(z) * (rng.standard_normal(f.size) + 1j * rng.standard_normal(f.size))
    z[::7] *= 1.1
    return f, z


@pytest.mark.parametrize("text", ["sei_randles", "L0-R0-(R1,CPE1)-(R2-W2,CPE2)", NESTED])
def test_zero_configuration_fits_are_bit_identical_run_to_run(text):
    f, z = hard_spectrum("L0-R0-(R1,CPE1)-(R2-W2,CPE2)", 7)
    first = quiet_fit(vorlane.Circuit(text), f, z)
    for _ in range(2):
        again = quiet_fit(vorlane.Circuit(text), f, z)
        assert (again.params, again.cost, again.iterations, again.impedance_evals) == \
               (first.params, first.cost, first.iterations, first.impedance_evals)


def test_guess_init_false_and_explicit_values_skip_the_search():
    """Both start from the given values with the plain default fit: the same
    result either way, whatever the zero-configuration fit finds."""
    f, z = hard_spectrum("L0-R0-(R1,CPE1)-(R2-W2,CPE2)", 3)
    circuit = vorlane.Circuit("L0-R0-(R1,CPE1)-(R2-W2,CPE2)")
    values = circuit.param_values()
    explicit = circuit.with_values(values).fit(f, z)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        unguessed = circuit.fit(f, z, guess_init=False)
    assert (explicit.params, explicit.cost, explicit.impedance_evals) == \
           (unguessed.params, unguessed.cost, unguessed.impedance_evals)


HOSTILE = {
    "nan and negative frequencies": ([np.nan, -1.0, 0.0, 1.0, 10.0, 100.0, 1e3], [1 + 0j] * 7),
    "non-finite impedances": (np.logspace(0, 3, 6), [complex(np.inf, 0), complex(np.nan, 1)] + [2 - 1j] * 4),
    "zero impedance": (np.logspace(0, 3, 8), [0j] * 8),
    "two points": ([1.0, 10.0], [1 - 1j, 2 - 2j]),
    "huge values": (np.logspace(0, 3, 8), [1e300 - 1e300j] * 8),
    "tiny values": (np.logspace(0, 3, 8), [1e-300 - 1e-300j] * 8),
    "inductive only": (np.logspace(0, 3, 8), 1 + 1j * np.logspace(0, 3, 8)),
}


@pytest.mark.parametrize("text", ["L0-R0-(R1-W1,CPE1)", NESTED, "R0-(R1,CPE1)-(R2,CPE2)-(R3,CPE3)",
                                  "L0-R0-(R1,C1)-(R2,CPE2)-Wo3"])
@pytest.mark.parametrize("case", HOSTILE)
def test_hostile_spectra_give_a_result_or_a_clear_error(text, case):
    f, z = HOSTILE[case]
    try:
        result = quiet_fit(vorlane.Circuit(text), f, z)
    except ValueError as error:
        assert "need at least 2 frequency points" in str(error)
        return
    assert len(result.params) == len(vorlane.Circuit(text).param_names())
    assert not (result.success and not math.isfinite(result.cost))


@pytest.mark.parametrize("name", SPECTRUM_FILES)
def test_every_real_spectrum_fits_an_extended_topology_without_warnings(name):
    spectrum = read_spectrum(name)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        result = vorlane.Circuit("L0-R0-(R1,CPE1)-(R2,CPE2)-(R3,CPE3)").fit(spectrum.frequencies,
                                                                            spectrum.impedances)
    assert math.isfinite(result.cost)


@pytest.mark.parametrize("text, truth", [
    ("sei_randles_wo", [10, 30, 1e-6, 0.9, 100, 80, 10, 1e-4, 0.85]),
    ("sei_randles", [10, 30, 1e-6, 0.9, 100, 50, 1e-4, 0.85]),
    ("two_rq", [10, 50, 1e-6, 0.9, 200, 1e-3, 0.8]),
])
@pytest.mark.parametrize("seed", [1, 2, 3])
def test_an_easy_spectrum_costs_little_more_than_the_fit_from_the_guess(text, truth, seed):
    """At the noise floor, fitted values a few decades from the data-scaled
    start (an arc the peaks do not show) are no reason to search further."""
    f = np.logspace(-2, 5, 60)
    circuit = vorlane.Circuit(text)
    z = one_percent_noise(circuit, truth, f, seed)
    zero_config = circuit.fit(f, z)
    from_guess = circuit.with_values(circuit.guess(f, z)).fit(f, z)
    # Ending in the same minimum, the two costs differ by rounding (parts in
    # 10^15); a neighbouring minimum lies a per cent or more away.
    assert zero_config.cost <= from_guess.cost * (1 + 1e-6)
    # Here the search takes 2 to 15 times the evaluations of the fit from
    # the guess; one that takes a fit at the noise floor for a lost element
    # goes on with the noisy spectrum's further starts, 25 to 60 times on the
    # two larger circuits.
    assert zero_config.impedance_evals <= 20 * from_guess.impedance_evals


def noisy_hard_spectrum(circuit, values, seed):
    """26 points over five decades, 2 % noise and 10 % outliers on 5 % of the points."""
    rng = np.random.default_rng(seed)
    f = np.logspace(-1, 4, 26)
    z = np.asarray(circuit.with_named_values(values).impedance(f))
    z = z + 0.02 * np.abs(z) * (rng.standard_normal(f.size) + 1j * rng.standard_normal(f.size))
    outliers = rng.random(f.size) < 0.05
    z[outliers] += 0.1 * np.abs(z[outliers]) * np.exp(2j * np.pi * rng.random(outliers.sum()))
    return f, z


def test_a_noisy_hard_spectrum_reaches_the_best_known_cost():
    """The least-squares fit from the network's guess and the data-scaled
    starts stopped 0.3 % above the optimum on this spectrum; the noisy
    spectrum's extra starts find it."""
    circuit = vorlane.Circuit("sei_randles_wo")
    values = {"R0.r": 10, "R1.r": 30, "CPE1.q": 1e-5, "CPE1.alpha": 0.85, "R2.r": 60, "Wo2.z0": 80,
              "Wo2.tau": 20, "CPE2.q": 1e-3, "CPE2.alpha": 0.8}
    f, z = noisy_hard_spectrum(circuit, values, 17)
    truth = [values[n] for n in circuit.param_names()]
    best_known = min(circuit.with_values(truth).fit(f, z).cost,
                     circuit.fit(f, z, method="basin_hopping", seed=1).cost)
    assert circuit.fit(f, z).cost <= best_known * (1 + 1e-3)


@pytest.mark.parametrize("file, text", [("exampleDataPowersuite.txt", "R0-(R1,CPE1)"),
                                        ("exampleDataParstat.txt", "randles"),
                                        ("exampleDataBioLogic.mpt", "L0-R0-(R1,CPE1)-(R2,CPE2)")])
def test_a_converged_fit_is_not_given_up_for_a_rounding_level_gain(file, text):
    """On these noisy spectra a later run of the search ends a few parts in
    10^13 below the converged fit without converging itself; the converged
    fit stays the result."""
    result = vorlane.Circuit(text).fit(vorlane.read_spectrum(DATA_DIR / "instruments" / file))
    assert result.success


@pytest.mark.parametrize("seed", [2, 3])
def test_a_fit_with_an_exponent_at_its_end_searches_on_at_the_noise_floor(seed):
    """Three (R,CPE) arcs, the middle one nearly a capacitance, at 1 % noise:
    the least-squares fit from the start may end with an exponent at 1 and
    its cost at the noise floor, a few per cent above the optimum."""
    circuit = vorlane.Circuit("R0-(R1,CPE1)-(R2,CPE2)-(R3,CPE3)")
    truth = [826.4, 12370.0, 8.551e-08, 0.5359, 1131.0, 5.411e-06, 0.9428, 10990.0, 2.554e-05, 0.6239]
    f = np.logspace(math.log10(0.0713), math.log10(3.3e5), 40)
    z = one_percent_noise(circuit, truth, f, seed)
    best_known = min(circuit.with_values(truth).fit(f, z).cost,
                     circuit.fit(f, z, method="basin_hopping", seed=1).cost)
    assert circuit.fit(f, z).cost <= best_known * (1 + 1e-3)


def noisy(text, truth, f, seed):
    return text, truth, f, one_percent_noise(vorlane.Circuit(text), truth, f, seed)


def stored(text, truth, name):
    table = np.genfromtxt(Path(__file__).parent / "data" / name, delimiter=",", skip_header=2)
    return text, truth, table[:, 0], table[:, 1] + 1j * table[:, 2]


SMALL_ARC = ("L0-R0-(R1,C1)-(R2,CPE2)-Wo3", [8.06e-08, 1.24, 0.0624, 5.69e-05, 0.404, 0.0867, 0.679, 3.92, 2.79],
             np.logspace(-2.3, 5.0, 44))
RANDLES_ABOVE_WINDOW = ("R0-(R1-W1,CPE1)", [2.26, 2.76, 2100.0, 8.5e-07, 0.885],
                        np.logspace(np.log10(0.8345), np.log10(240590), 61))

# Spectra on which the search once ended above the optimum, each with what finds it now.
MISSED_BEFORE = {
    # An open Warburg whose fitted transition lay three decades below the
    # window acts as a plain Warburg there, 7 % above the optimum; with its
    # diffusion time moved into the window the fit finds the optimum.
    "diffusion transition far below the window": lambda: noisy(
        "L0-R0-(R1,CPE1)-(R2-Wo2,CPE2)", [1.14e-05, 123, 188, 3.9e-07, 0.756, 4230, 21400, 0.883, 0.000164, 0.831],
        np.logspace(-0.4, 5.8, 106), 3),
    # A Randles cell whose arc sits just above the window: the network's start
    # puts a broad CPE there and the fit ends 10 % above the optimum, above the
    # expected optimum by more than half the check's spread though passing it;
    # an arc put where that fit misses the data finds it.
    "network start above the expected optimum": lambda: stored(
        "R0-(R1-W1,CPE1)",
        [2.2642336896286435, 2.7628610796436153, 2101.5085618718695, 8.496092554686814e-07, 0.8854202891683335],
        "randles_arc_above_window.csv"),
    # The same cell fitted at the noise floor: the network's broad CPE
    # (exponent 0.5) is a minimum 7-11 % above the optimum within the floor's
    # spread; the arc sharpened at the top of the window finds the optimum.
    "broad arc at the window's top, seed 2": lambda: noisy(*RANDLES_ABOVE_WINDOW, 2),
    "broad arc at the window's top, seed 13": lambda: noisy(*RANDLES_ABOVE_WINDOW, 13),
}


@pytest.mark.parametrize("case", MISSED_BEFORE)
def test_a_spectrum_the_search_once_missed_reaches_the_optimum(case):
    text, truth, f, z = MISSED_BEFORE[case]()
    circuit = vorlane.Circuit(text)
    assert quiet_fit(circuit, f, z).cost <= circuit.with_values(truth).fit(f, z).cost * (1 + 1e-3)


def test_a_small_arc_at_the_windows_top_is_found_in_most_spectra():
    """A small (R,C) arc at the top of the window, 5 % of the series
    resistance: the fit from the data-scaled start spends it elsewhere and
    ends up to 29 % above the optimum; an arc put where the fit misses the
    data most finds it. Whether one spectrum's search gets there can turn on
    rounding, so the test counts: 24 to 26 of these 30 reach the optimum,
    12 without the arc put at the misfit."""
    text, truth, f = SMALL_ARC
    circuit = vorlane.Circuit(text)
    reached = 0
    for seed in range(30):
        z = one_percent_noise(circuit, truth, f, seed)
        reached += quiet_fit(circuit, f, z).cost <= circuit.with_values(truth).fit(f, z).cost * (1 + 1e-3)
    assert reached >= 20
