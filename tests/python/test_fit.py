"""Circuit.fit with the default method and the FitResult it returns."""

import math
import re
import threading

import numpy as np
import pytest

import vorlane
from conftest import DATA_DIR

FREQS = np.logspace(-2, 5, 60)

# Physical values per parameter suffix of the registry circuits; time
# constants are spread over the frequency window so every value is visible.
TRUE_VALUES = {
    "rc": {"R0.r": 10, "R1.r": 100, "C1.c": 1e-5},
    "rc_l": {"L0.l": 1e-6, "R0.r": 10, "R1.r": 100, "C1.c": 1e-5},
    "rq": {"R0.r": 10, "R1.r": 100, "CPE1.q": 1e-5, "CPE1.alpha": 0.85},
    "rq_l": {"L0.l": 1e-6, "R0.r": 10, "R1.r": 100, "CPE1.q": 1e-5, "CPE1.alpha": 0.85},
    "two_rc": {"R0.r": 10, "R1.r": 50, "C1.c": 1e-6, "R2.r": 200, "C2.c": 1e-3},
    "two_rc_l": {"L0.l": 1e-6, "R0.r": 10, "R1.r": 50, "C1.c": 1e-6, "R2.r": 200, "C2.c": 1e-3},
    "two_rq": {"R0.r": 10, "R1.r": 50, "CPE1.q": 1e-6, "CPE1.alpha": 0.9, "R2.r": 200, "CPE2.q": 1e-3,
               "CPE2.alpha": 0.8},
    "two_rq_l": {"L0.l": 1e-6, "R0.r": 10, "R1.r": 50, "CPE1.q": 1e-6, "CPE1.alpha": 0.9, "R2.r": 200,
                 "CPE2.q": 1e-3, "CPE2.alpha": 0.8},
    "randles": {"R0.r": 10, "R1.r": 100, "W1.aw": 50, "CPE1.q": 1e-5, "CPE1.alpha": 0.9},
    "sei_randles": {"R0.r": 10, "R1.r": 30, "CPE1.q": 1e-6, "CPE1.alpha": 0.9, "R2.r": 100, "W2.aw": 50,
                    "CPE2.q": 1e-4, "CPE2.alpha": 0.85},
    "sei_randles_wo": {"R0.r": 10, "R1.r": 30, "CPE1.q": 1e-6, "CPE1.alpha": 0.9, "R2.r": 100, "Wo2.z0": 80,
                       "Wo2.tau": 10, "CPE2.q": 1e-4, "CPE2.alpha": 0.85},
}


def true_params(name):
    circuit = vorlane.Circuit(name)
    return circuit, [float(TRUE_VALUES[name][n]) for n in circuit.param_names()]


def perturbed(circuit, values, seed):
    """Values scaled by factors in [1/2, 2]; exponents moved by up to 0.05."""
    rng = np.random.default_rng(seed)
    out = []
    for name, v in zip(circuit.param_names(), values):
        if name.endswith("alpha"):
            out.append(min(max(v + rng.uniform(-0.05, 0.05), 0.1), 0.99))
        else:
            out.append(v * 2.0 ** rng.uniform(-1, 1))
    return out


def spectrum(circuit, values, noise=0.0, seed=0):
    z = circuit.with_values(values).impedance(FREQS)
    if noise:
        rng = np.random.default_rng(seed)
        z = z + noise * np.abs(z) * (rng.standard_normal(len(z)) + 1j * rng.standard_normal(len(z)))
    return z


def cost_at(circuit, values, z):
    r = np.array(circuit.residuals(values, FREQS, z))
    return 0.5 * float(r @ r)


@pytest.mark.parametrize("name", sorted(TRUE_VALUES))
def test_recovers_noise_free_parameters(name):
    circuit, truth = true_params(name)
    z = spectrum(circuit, truth)
    result = circuit.with_values(perturbed(circuit, truth, seed=1)).fit(FREQS, z)
    assert result.success
    fitted = [result.params[n] for n in circuit.param_names()]
    np.testing.assert_allclose(fitted, truth, rtol=1e-4)
    assert result.cost < 1e-12


@pytest.mark.parametrize("name", sorted(TRUE_VALUES))
def test_reaches_the_optimum_with_one_percent_noise(name):
    circuit, truth = true_params(name)
    z = spectrum(circuit, truth, noise=0.01, seed=2)
    result = circuit.with_values(perturbed(circuit, truth, seed=3)).fit(FREQS, z)
    assert result.cost <= cost_at(circuit, truth, z) * (1 + 1e-9)
    fitted = [result.params[n] for n in circuit.param_names()]
    assert result.cost == pytest.approx(cost_at(circuit, fitted, z), rel=1e-12)


def fit_rc(seed):
    circuit, truth = true_params("rc")
    z = spectrum(circuit, truth, noise=0.01, seed=seed)
    return circuit.with_values(perturbed(circuit, truth, seed)).fit(FREQS, z)


def summary(result):
    return (repr(result), result.params, result.stderr, result.cost, result.iterations, result.impedance_evals,
            result.circuit.param_values())


def test_repeated_fits_are_bit_identical():
    first = summary(fit_rc(5))
    assert all(summary(fit_rc(5)) == first for _ in range(3))


def test_fits_from_several_threads_equal_serial_fits():
    serial = [summary(fit_rc(seed)) for seed in range(6)]
    parallel = [None] * 6

    def work(seed):
        parallel[seed] = summary(fit_rc(seed))

    threads = [threading.Thread(target=work, args=(seed,)) for seed in range(6)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert parallel == serial


def test_statistics_of_the_result():
    circuit, truth = true_params("rq")
    z = spectrum(circuit, truth, noise=0.01, seed=4)
    result = circuit.with_values(truth).fit(FREQS, z)
    names = circuit.param_names()
    fitted = [result.params[n] for n in names]
    assert result.chi_square == 2 * result.cost
    assert result.circuit.param_values() == fitted
    assert result.circuit.param_names() == names
    jac = np.array(circuit.jacobian(fitted, FREQS, z))
    m, p = jac.shape
    covariance = np.linalg.inv(jac.T @ jac) * result.chi_square / (m - p)
    np.testing.assert_allclose([result.stderr[n] for n in names], np.sqrt(np.diag(covariance)), rtol=1e-6)


def test_standard_errors_absent_with_too_few_points():
    circuit = vorlane.Circuit("R0-(R1,C1)").with_values([5.0, 5.0, 1e-5])
    assert circuit.fit(FREQS[:1], [12.0 - 1.0j]).stderr is None  # 2N <= P


def test_standard_errors_absent_with_a_parameter_without_influence():
    # beside a capacitor, 1e300 ohm changes no residual bit: a zero Jacobian column
    z = vorlane.Circuit("R0-C1").with_values([10.0, 1e-5]).impedance(FREQS)
    result = vorlane.Circuit("R0-(R1,C1)").with_values([20.0, 1e300, 3e-5]).fit(FREQS, z)
    assert result.params["R1.r"] > 1e290
    assert result.stderr is None


def test_parameter_past_its_bound_is_cleaned_up():
    # A pure capacitor measured through a CPE drives alpha onto its upper
    # bound. The rounding of the data puts the optimum a few parts in 10^15
    # to either side of it: past the bound the fit holds alpha at 1, inside
    # it alpha ends there. It never ends past the bound.
    truth = [10.0, 100.0, 1e-5]
    z = vorlane.Circuit("R0-(R1,C1)").with_values(truth).impedance(FREQS)
    result = vorlane.Circuit("R0-(R1,CPE1)").with_values([20.0, 50.0, 3e-5, 0.7]).fit(FREQS, z)
    assert 1.0 - 1e-12 <= result.params["CPE1.alpha"] <= 1.0
    assert result.params["R1.r"] == pytest.approx(100.0, rel=1e-6)


def test_refit_with_an_exponent_held_at_its_bound_is_kept():
    # Noise puts the best unconstrained exponent just past 1. The fit must
    # return the refit with it held at 1, not the clamped out-of-range point
    # whose other parameters still suit alpha > 1: started at the truth, the
    # fit never ends above the cost of the truth.
    circuit = vorlane.Circuit("R0-(R1,CPE1)-(R2,CPE2)")
    freqs = np.logspace(-2, 5, 60)
    rng = np.random.default_rng(1)
    for _ in range(8):
        r1, a1, r2, a2 = 10 ** rng.uniform(0, 2.5), rng.uniform(0.5, 1.0), 10 ** rng.uniform(0, 2.5), rng.uniform(0.5, 1.0)
        tau1, tau2 = 10 ** rng.uniform(-5, -2), 10 ** rng.uniform(-2, 1)
        truth = [10.0, r1, tau1**a1 / r1, a1, r2, tau2**a2 / r2, a2]
        z = circuit.with_values(truth).impedance(freqs)
        z = z * (1 + 0.01 * (rng.normal(size=60) + 1j * rng.normal(size=60)))
        truth_cost = 0.5 * sum(r * r for r in circuit.residuals(truth, freqs, z))
        assert circuit.with_values(truth).fit(freqs, z).cost <= truth_cost * (1 + 1e-6)


def test_duplicate_names_keep_the_later_value():
    circuit = vorlane.Series([vorlane.Circuit("R0"), vorlane.Circuit("R0-(R1,C1)")]).with_values([1, 2, 3, 4e-6])
    z = vorlane.Circuit("R0-(R1,C1)").with_values([30.0, 40.0, 1e-5]).impedance(FREQS)
    result = circuit.fit(FREQS, z)
    assert list(result.params) == ["R0.r", "R1.r", "C1.c"]
    assert result.params["R0.r"] == result.circuit.param_values()[1]
    assert re.search(r'params=\{"R0\.r": [^,]+, "R1\.r": ', repr(result))


EXP = re.compile(r"^(-?\d)(?:\.(\d+))?e([+-]\d+)$")


def exp6(x):
    if math.isnan(x):
        return "NaN"
    if math.isinf(x):
        return "inf" if x > 0 else "-inf"
    mantissa, exponent = f"{x:.6e}".split("e")
    return f"{mantissa}e{int(exponent)}"


def debug_float(x):
    text = repr(x)
    if "e" in text:
        mantissa, exponent = text.split("e")
        return f"{mantissa}e{int(exponent)}"
    return {"nan": "NaN"}.get(text, text)


def test_repr_format():
    result = fit_rc(7)
    params = ", ".join(f'"{k}": {debug_float(v)}' for k, v in result.params.items())
    expected = (f"FitResult(success={str(result.success).lower()}, iterations={result.iterations}, "
                f"impedance_evals={result.impedance_evals}, chi_square={exp6(result.chi_square)}, "
                f"params={{{params}}})")
    assert repr(result) == expected
    assert re.search(r'"C1\.c": \d(\.\d+)?e-\d+\}', expected)


def test_result_attributes_are_read_only_fresh_objects():
    result = fit_rc(8)
    assert result.params is not result.params and result.params == result.params
    assert result.circuit is not result.circuit
    result.params["R0.r"] = -1.0
    assert result.params["R0.r"] != -1.0
    for attr in ("circuit", "params", "stderr", "success", "iterations", "impedance_evals", "cost",
                 "chi_square"):
        with pytest.raises(AttributeError):
            setattr(result, attr, None)
    assert isinstance(result.iterations, int) and isinstance(result.success, bool)


def test_result_class_has_no_constructor():
    with pytest.raises(TypeError, match="^No constructor defined for FitResult$"):
        vorlane.FitResult()
    with pytest.raises(TypeError):
        object.__new__(vorlane.FitResult)


RC_EXPLICIT = vorlane.Circuit("R0-(R1,C1)").with_values([10, 100, 1e-5])
Z_RC = RC_EXPLICIT.impedance(FREQS)
METHODS = ('"levenberg_marquardt", "particle_swarm", "nelder_mead", "differential_evolution", '
           '"simulated_annealing", "basin_hopping"')


@pytest.mark.parametrize("kwargs, exc, message", [
    (dict(frequencies=[1.0, 2.0], impedances=[1.0]), ValueError,
     "frequencies and impedances must have the same length"),
    (dict(frequencies=[], impedances=[]), ValueError, "frequencies and impedances must not be empty"),
    (dict(method="Nelder_Mead"), ValueError, f'unknown fit method "Nelder_Mead", expected one of {METHODS}'),
    (dict(method='a"b'), ValueError, f'unknown fit method "a\\"b", expected one of {METHODS}'),
    (dict(weight="Unit"), ValueError, 'unknown weight scheme "Unit", expected "modulus" or "unit"'),
    # the spectrum is checked before the weighting, the weighting before the method
    (dict(frequencies=[1.0], impedances=[], weight="x"), ValueError,
     "frequencies and impedances must have the same length"),
    (dict(weight="x", method="y"), ValueError, 'unknown weight scheme "x", expected "modulus" or "unit"'),
])
def test_fit_errors(kwargs, exc, message):
    kwargs = {"frequencies": FREQS, "impedances": Z_RC, **kwargs}
    with pytest.raises(exc) as info:
        RC_EXPLICIT.fit(**kwargs)
    assert str(info.value) == message


def test_circuit_without_parameters():
    with pytest.raises(ValueError, match="^circuit topology has no parameters to fit$"):
        vorlane.Series([]).fit([1.0], [1.0])


@pytest.mark.parametrize("name, value, exc", [
    ("max_iterations", -1, ValueError),
    ("max_iterations", 2**32, ValueError),
    ("max_iterations", 1.5, TypeError),
    ("basin_hopping_hops", 2**32, ValueError),
    ("num_particles", 2**64, ValueError),
    ("generations", -5, ValueError),
    ("nelder_mead_iterations", "10", TypeError),
    ("de_evaluations", None, TypeError),
    ("sa_iterations", -1, ValueError),
    ("seed", -1, ValueError),
    ("seed", 2**64, ValueError),
    ("seed", 1.0, TypeError),
    ("ftol", "tight", TypeError),
    ("xtol", None, TypeError),
    ("sa_initial_temperature", [1.0], TypeError),
    ("basin_hopping_step_size", object(), TypeError),
    ("basin_hopping_temperature", "1", TypeError),
    ("guess_init", 1, TypeError),
    ("guess_init", "yes", TypeError),
    ("weights", 5, TypeError),
    ("weight", None, TypeError),
    ("method", b"nelder_mead", TypeError),
])
def test_argument_conversion_errors_name_the_argument(name, value, exc):
    # conversion comes first: the broken spectrum is never looked at
    with pytest.raises(exc, match=f"argument '{name}'"):
        RC_EXPLICIT.fit("not a spectrum", **{name: value})


def test_integer_arguments_accept_their_full_range():
    result = RC_EXPLICIT.fit(FREQS, Z_RC, max_iterations=2**32 - 1, seed=2**64 - 1, num_particles=np.uint64(3))
    assert result.success


@pytest.mark.parametrize("name", ["ftol", "xtol"])
@pytest.mark.parametrize("value", [-1e-8, -0.0])
def test_negative_tolerance_is_refused(name, value):
    with pytest.raises(Exception, match=f"{name} must be >= 0"):
        RC_EXPLICIT.fit(FREQS, Z_RC, **{name: value})


def test_fit_leaves_the_circuit_unchanged_and_result_circuit_never_guesses():
    start = vorlane.Circuit("R0-(R1,C1)-(R2,CPE2)").with_values([1, 2, 3e-5, 4, 5e-4, 0.8])
    z = start.with_values([10, 20, 1e-5, 40, 1e-3, 0.9]).impedance(FREQS)
    result = start.fit(FREQS, z)
    assert start.param_values() == [1, 2, 3e-5, 4, 5e-4, 0.8]
    import warnings
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        again = result.circuit.fit(FREQS, z)
    assert again.cost <= result.cost


def test_signature_and_docstring():
    fit = vorlane.Circuit.fit
    assert fit.__text_signature__ == (
        '($self, frequencies, impedances=None, guess_init=None, weights=None, weight="modulus", '
        'method="levenberg_marquardt", max_iterations=200, ftol=1e-8, xtol=1e-8, num_particles=200, '
        'generations=1000, nelder_mead_iterations=2000, de_evaluations=20000, sa_iterations=5000, '
        'sa_initial_temperature=2.0, basin_hopping_hops=20, basin_hopping_step_size=1.0, '
        'basin_hopping_temperature=1.0, seed=None)')
    assert fit.__doc__.split("\n\n") == [
        "Fit this circuit's parameters to a measured spectrum.",
        "Accepts two sequences of frequencies and impedances, or a single battery\n"
        "data format dataframe (`impedances` left as None).",
        "`guess_init` unset means start from a machine-learning guess whenever the\n"
        "circuit is not explicitly given starting parameters. If no model has been\n"
        "trained for the topology it warns and starts from placeholder values.",
        "`True` always guesses, and raises rather than warns when it cannot.\n`False` never guesses.",
    ]


def test_fit_takes_a_dataframe_of_a_real_spectrum():
    pd = pytest.importorskip("pandas")
    frame = pd.read_csv(DATA_DIR / "dummy_cell_a_1.csv")
    result = vorlane.Circuit("R0-(R1,C1)").with_values([10.0, 10.0, 1e-6]).fit(frame)
    assert result.params["R0.r"] == pytest.approx(29.1, rel=0.02)
    assert result.params["R1.r"] == pytest.approx(46.7, rel=0.02)


@pytest.mark.parametrize("values, z", [
    ([10, 100, 1e-5], np.where(np.arange(len(FREQS)) == 3, complex(math.nan, 0), Z_RC)),
    ([10, 100, 1e-5], np.where(np.arange(len(FREQS)) == 3, math.inf, Z_RC)),
    ([10, 100, 1e-5], np.zeros(len(FREQS))),
    ([1e308, 1e308, 1e308], Z_RC),
    ([math.nan, 1.0, 1.0], Z_RC),
])
@pytest.mark.filterwarnings("ignore:1 of 60 points:UserWarning", "ignore:starting values:UserWarning")
def test_hostile_spectra_and_starts_end_in_a_result(values, z):
    result = vorlane.Circuit("R0-(R1,C1)").with_values(values).fit(FREQS, z)
    assert math.isnan(result.cost) or result.chi_square == 2 * result.cost
    assert set(result.params) == {"R0.r", "R1.r", "C1.c"}


@pytest.mark.parametrize("method", ["levenberg_marquardt", "particle_swarm", "nelder_mead",
                                    "differential_evolution", "simulated_annealing", "basin_hopping"])
def test_a_fit_beyond_the_memory_limit_is_refused_before_it_starts(method):
    circuit = vorlane.Circuit("-".join(f"R{i}" for i in range(100000)))
    frequencies = np.logspace(0, 5, 60)
    with pytest.raises(ValueError) as info:
        circuit.fit(frequencies, np.ones(60), guess_init=False, method=method)
    assert re.fullmatch(r"fit needs about \d+\.\d GB of working memory for 100000 parameters and 60 points "
                        r"\(the Jacobian, J\^T J and its inverse for the standard errors\); the limit is "
                        r"\d+\.\d GB, half of the physical memory and at most 16\.0 GB", str(info.value))
