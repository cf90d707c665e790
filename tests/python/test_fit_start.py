"""Where Circuit.fit starts: the circuit's own values or a machine-learning
guess, decided from guess_init, weights and the explicit-values flag."""

import sys
import warnings
from pathlib import Path

import numpy as np
import pytest

import vorlane

REPO = Path(__file__).resolve().parents[2]
sys.path.append(str(REPO))

from training.zero_network import zero_network_bytes  # noqa: E402

FREQS = np.logspace(-1, 5, 40)
RC_TRUE = [10.0, 100.0, 1e-5]
Z_RC = vorlane.Circuit("R0-(R1,C1)").with_values(RC_TRUE).impedance(FREQS)
NAMES = ("'rc', 'rc_l', 'rq', 'rq_l', 'two_rc', 'two_rc_l', 'two_rq', 'two_rq_l', 'randles', 'sei_randles', "
         "'sei_randles_wo'")
NO_MODEL_WARNING = (
    "There is no ML model to guess initial parameters for this circuit. Supply your own with "
    "Circuit.with_named_values({...}) or Circuit.with_values([...]), or pass guess_init=False to silence this. "
    "Models available for " + NAMES)
NO_TRAINING_DATA = ("No training data on this circuit. Machine-learning based initial parameters available for "
                    + NAMES)
# No bundled network is part of this circuit (a network may cover part of one).
NO_MODEL_CIRCUIT = "R0-(R1-(R2,CPE2),C1)"


@pytest.fixture
def rc_weights(tmp_path):
    path = tmp_path / "rc_small.eisnn"
    path.write_bytes(zero_network_bytes("rc"))
    return str(path)


def bundled_models_available():
    try:
        vorlane.Circuit("rc").guess(FREQS, Z_RC)
    except ValueError:
        return False
    return True


needs_bundled = pytest.mark.skipif(not bundled_models_available(), reason="bundled models not built in")


def same_fit(a, b):
    return (repr(a), a.params, a.cost, a.iterations, a.impedance_evals) == \
           (repr(b), b.params, b.cost, b.iterations, b.impedance_evals)


def fit_from(circuit, values, **kwargs):
    return circuit.with_values(values).fit(FREQS, Z_RC, guess_init=False, **kwargs)


@pytest.fixture
def no_warnings():
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        yield


PARSED = vorlane.Circuit("R0-(R1,C1)")
EXPLICIT = PARSED.with_values([3.0, 30.0, 3e-4])


@pytest.mark.parametrize("guess_init", [False, np.False_])
@pytest.mark.parametrize("circuit", [PARSED, EXPLICIT])
def test_false_never_guesses_and_never_opens_the_file(circuit, guess_init, no_warnings):
    result = circuit.fit(FREQS, Z_RC, guess_init=guess_init, weights="/nonexistent/file.eisnn")
    assert same_fit(result, fit_from(circuit, circuit.param_values()))


@pytest.mark.parametrize("guess_init", [True, np.True_, None])
@pytest.mark.parametrize("circuit", [PARSED, EXPLICIT])
def test_weights_file_guesses_from_the_file(circuit, guess_init, rc_weights, no_warnings):
    result = circuit.fit(FREQS, Z_RC, guess_init=guess_init, weights=rc_weights)
    guessed = circuit.guess(FREQS, Z_RC, weights=rc_weights)
    assert guessed != circuit.param_values()
    assert same_fit(result, fit_from(circuit, guessed))


@pytest.mark.parametrize("guess_init", [True, None])
def test_weights_file_errors_raise_and_no_fit_runs(guess_init, tmp_path):
    with pytest.raises(ValueError, match="^reading weights: "):
        EXPLICIT.fit(FREQS, Z_RC, guess_init=guess_init, weights=str(tmp_path / "missing.eisnn"))
    other = tmp_path / "rq.eisnn"
    other.write_bytes(zero_network_bytes("rq"))
    with pytest.raises(ValueError) as info:
        EXPLICIT.fit(FREQS, Z_RC, guess_init=guess_init, weights=str(other), method="no such method")
    message = str(info.value)
    assert message.startswith("weight file has an unparsable value for ")
    assert str(other) in message and '\\"R0-(R1,CPE1)\\"' in message


def test_true_without_model_raises_instead_of_warning(no_warnings):
    circuit = vorlane.Circuit(NO_MODEL_CIRCUIT).with_values([1, 2, 3e-5, 4, 5e-4, 0.8])
    with pytest.raises(ValueError) as info:
        circuit.fit(FREQS, Z_RC, guess_init=True)
    assert str(info.value) == NO_TRAINING_DATA


def test_unset_with_explicit_values_fits_from_them(no_warnings):
    assert same_fit(EXPLICIT.fit(FREQS, Z_RC), fit_from(EXPLICIT, EXPLICIT.param_values()))


def test_unset_without_model_warns_and_fits_from_a_data_scaled_start():
    circuit = vorlane.Circuit(NO_MODEL_CIRCUIT)
    z = circuit.with_values([10, 20, 40, 1e-3, 0.9, 1e-5]).impedance(FREQS)
    with pytest.warns(UserWarning) as record:
        result = circuit.fit(FREQS, z)
    assert [str(w.message) for w in record] == [NO_MODEL_WARNING]
    assert record[0].filename == __file__
    from_placeholders = circuit.with_values(circuit.param_values()).fit(FREQS, z, guess_init=False)
    # Both starts reach the exact fit, whose cost is rounding (1e-31 to
    # 1e-24) and may come out lower from either. The data-scaled start lies
    # near it: the fit from there takes about 100 evaluations, the one from
    # the placeholders 700 to 900.
    assert result.cost < 1e-12
    assert 3 * result.impedance_evals < from_placeholders.impedance_evals


def test_warning_turned_into_error_propagates():
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(UserWarning, match="^There is no ML model to guess initial parameters"):
            vorlane.Circuit(NO_MODEL_CIRCUIT).fit(FREQS, Z_RC)


def test_unknown_method_comes_after_the_warning():
    with pytest.warns(UserWarning):
        with pytest.raises(ValueError, match='^unknown fit method "Nelder_Mead"'):
            vorlane.Circuit(NO_MODEL_CIRCUIT).fit(FREQS, Z_RC, method="Nelder_Mead")


def test_conversion_and_spectrum_errors_come_before_the_warning(no_warnings):
    circuit = vorlane.Circuit(NO_MODEL_CIRCUIT)
    with pytest.raises(ValueError, match="same length"):
        circuit.fit([1.0, 2.0], [1.0])
    with pytest.raises(ValueError, match="unknown weight scheme"):
        circuit.fit(FREQS, Z_RC, weight="Unit")
    with pytest.raises(TypeError, match="argument 'guess_init'"):
        circuit.fit(FREQS, Z_RC, guess_init="maybe")


def test_guess_on_too_few_points_fails_before_the_fit(rc_weights):
    with pytest.raises(ValueError, match="^need at least 2 frequency points to guess, got 1$"):
        EXPLICIT.fit([1.0], [1.0], weights=rc_weights)
    with pytest.raises(ValueError, match="^need at least 2 frequency points to guess, got 0$"):
        EXPLICIT.fit([], [], weights=rc_weights)


def test_guess_arguments(rc_weights):
    with pytest.raises(TypeError, match="argument 'weights'"):
        EXPLICIT.guess(FREQS, Z_RC, weights=Path(rc_weights))
    assert len(EXPLICIT.guess(FREQS, Z_RC, weights=rc_weights)) == 3
    frame = {"Frequency / Hz": FREQS, "Real Impedance / ohm": Z_RC.real, "Imaginary Impedance / ohm": Z_RC.imag}
    assert EXPLICIT.guess(frame, weights=rc_weights) == EXPLICIT.guess(FREQS, Z_RC, weights=rc_weights)
    with pytest.raises(ValueError) as info:
        vorlane.Circuit(NO_MODEL_CIRCUIT).guess(FREQS, Z_RC)
    assert str(info.value) == NO_TRAINING_DATA


def test_guess_and_ml_circuits_docs():
    assert vorlane.Circuit.guess.__text_signature__ == "($self, frequencies, impedances=None, weights=None)"
    assert vorlane.Circuit.ml_circuits.__text_signature__ == "()"
    assert vorlane.Circuit.ml_circuits.__doc__ == (
        "Names accepted by the constructor that have trained initial-parameter\n"
        "models, and so get a guessed starting point from `fit()` by default.")
    assert vorlane.Circuit.guess.__doc__.splitlines()[-1] == "was trained for a different one."
    names = vorlane.Circuit.ml_circuits()
    assert names == ["rc", "rc_l", "rq", "rq_l", "two_rc", "two_rc_l", "two_rq", "two_rq_l", "randles",
                     "sei_randles", "sei_randles_wo"]
    names.append("mine")
    assert len(vorlane.Circuit.ml_circuits()) == 11


@needs_bundled
@pytest.mark.parametrize("guess_init", [True, None])
def test_registry_guess_for_a_parsed_circuit(guess_init, no_warnings):
    result = PARSED.fit(FREQS, Z_RC, guess_init=guess_init)
    assert same_fit(result, fit_from(PARSED, PARSED.guess(FREQS, Z_RC)))


@needs_bundled
def test_true_guesses_even_with_explicit_values(no_warnings):
    result = EXPLICIT.fit(FREQS, Z_RC, guess_init=True)
    assert same_fit(result, fit_from(EXPLICIT, EXPLICIT.guess(FREQS, Z_RC)))
