"""Points with a non-finite frequency or impedance: fit, guess and fit_many
keep what they computed before (the floor weight and NaN residuals in a fit,
left out by the guess) and say so with one UserWarning per call; integer
options out of their range are ValueErrors naming the range."""

import math
import warnings

import numpy as np
import pandas as pd
import pytest

import vorlane

F = np.logspace(-2, 5, 64)
TRUTH = vorlane.Circuit("R0-(R1,C1)").with_values([10.0, 100.0, 1e-5])
Z = TRUTH.impedance(F)
FIT_WORDS = "they get the floor weight and NaN residuals, which make the fit's cost NaN"


def with_bad_points():
    """The spectrum with NaN frequencies at 0 and 5 and an infinite impedance at 17."""
    f, z = F.copy(), Z.copy()
    f[[0, 5]] = np.nan
    z[17] = complex(np.inf, 0.0)
    return f, z


def warnings_of(call):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        result = call()
    return result, [str(w.message) for w in caught if issubclass(w.category, UserWarning)]


def test_a_fit_warns_once_naming_the_points_and_keeps_its_numbers():
    f, z = with_bad_points()
    start = vorlane.Circuit("R0-(R1,C1)").with_values([10.0, 100.0, 1e-5])
    result, messages = warnings_of(lambda: start.fit(f, z, guess_init=False))
    assert messages == [f"3 of 64 points (indices 0, 5, 17) have a non-finite frequency or impedance; {FIT_WORDS}: "
                        "leave them out to fit the other points"]
    assert math.isnan(result.cost) and not result.success
    # A guessed start reads the finite points only; still one warning.
    guessed, messages = warnings_of(lambda: vorlane.Circuit("R0-(R1,C1)").fit(f, z))
    assert len(messages) == 1 and messages[0].startswith("3 of 64 points (indices 0, 5, 17)")
    assert math.isnan(guessed.cost)


def test_the_warning_shows_the_first_positions_and_dataframe_rows():
    z = Z.copy()
    z[::3] = np.nan
    _, messages = warnings_of(lambda: TRUTH.fit(F, z, guess_init=False))
    assert messages[0].startswith("22 of 64 points (indices 0, 3, 6, 9, 12, ...) have a non-finite")
    # A dataframe leaves its rows at zero frequency out; positions are its rows.
    frame = pd.DataFrame({"Frequency / Hz": np.r_[0.0, F], "Real Impedance / ohm": np.r_[1.0, Z.real],
                          "Imaginary Impedance / ohm": np.r_[0.0, Z.imag]})
    frame.loc[10, "Real Impedance / ohm"] = np.inf
    _, messages = warnings_of(lambda: TRUTH.fit(frame, guess_init=False))
    assert messages[0].startswith("1 of 64 points (row 10) has a non-finite frequency or impedance")


def test_a_guess_warns_and_leaves_the_points_out():
    f, z = with_bad_points()
    circuit = vorlane.Circuit("R0-(R1,C1)")
    guess, messages = warnings_of(lambda: circuit.guess(f, z))
    assert messages == ["3 of 64 points (indices 0, 5, 17) have a non-finite frequency or impedance; the guess "
                        "leaves them out"]
    finite = np.isfinite(f) & np.isfinite(z)
    assert guess == circuit.guess(f[finite], z[finite])


def test_a_clean_spectrum_gives_no_warning_and_an_error_filter_stops_the_call():
    assert warnings_of(lambda: TRUTH.fit(F, Z, guess_init=False))[1] == []
    f, z = with_bad_points()
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        for call in (lambda: TRUTH.fit(f, z, guess_init=False), lambda: TRUTH.guess(f, z),
                     lambda: TRUTH.fit_many([(f, z)], guess_init=False)):
            with pytest.raises(UserWarning, match="non-finite frequency or impedance"):
                call()


def test_fit_many_warns_once_for_the_whole_batch():
    f, z = with_bad_points()
    one_nan = Z.copy()
    one_nan[40] = np.nan
    spectra = [(F, Z), (f, z), (F, one_nan), (F, Z), (f, z), (f, z), (F, one_nan)]
    results, messages = warnings_of(lambda: TRUTH.fit_many(spectra, guess_init=False))
    assert messages == [
        "5 of 7 spectra have points with a non-finite frequency or impedance (spectrum 1: 3 of 64 points, indices "
        "0, 5, 17; spectrum 2: 1 of 64 points, index 40; spectrum 4: 3 of 64 points, indices 0, 5, 17; and 2 more); "
        "they get the floor weight and NaN residuals, which make those fits' costs NaN: leave them out to fit the "
        "other points"
    ]
    assert [math.isnan(r.cost) for r in results] == [False, True, True, False, True, True, True]
    # Spectra split out of one dataframe are named by their keys.
    frame = pd.concat([pd.DataFrame({"Frequency / Hz": F, "Real Impedance / ohm": zz.real,
                                     "Imaginary Impedance / ohm": zz.imag, "cycle": n})
                       for n, zz in enumerate([Z, one_nan])])
    _, messages = warnings_of(lambda: TRUTH.fit_many(frame, by="cycle", guess_init=False))
    assert messages[0].startswith("1 of 2 spectra has points with a non-finite frequency or impedance (spectrum 1 "
                                  "(cycle = 1): 1 of 64 points, row 40)")


@pytest.mark.parametrize(
    "call, option, value, message",
    [
        ("fit", "max_iterations", -1, "expected an integer from 0 to 4294967295, got -1"),
        ("fit", "basin_hopping_hops", 2**32, "expected an integer from 0 to 4294967295, got 4294967296"),
        ("fit", "num_particles", 2**64, "expected an integer from 0 to 18446744073709551615, got 18446744073709551616"),
        ("fit", "seed", -(10**50), "expected an integer from 0 to 18446744073709551615 or None, got an integer below "
                                   "that"),
        ("fit_many", "generations", 10**60, "got an integer above that"),
        ("fit_many", "workers", -1, "expected an integer from 1 to 18446744073709551615 or None, got -1"),
        ("kramers_kronig", "m", -1, "or None, got -1"),
    ],
)
def test_integer_options_out_of_range_are_value_errors_naming_the_range(call, option, value, message):
    calls = {
        "fit": lambda: TRUTH.fit(F, Z, guess_init=False, **{option: value}),
        "fit_many": lambda: TRUTH.fit_many([(F, Z)], guess_init=False, **{option: value}),
        "kramers_kronig": lambda: vorlane.kramers_kronig(F, Z, **{option: value}),
    }
    with pytest.raises(ValueError) as raised:
        calls[call]()
    assert str(raised.value).startswith(f"argument '{option}': expected an integer from ")
    assert str(raised.value).endswith(message)


@pytest.mark.parametrize("option", ["max_iterations", "seed", "workers"])
def test_integer_options_of_another_type_stay_type_errors(option):
    with pytest.raises(TypeError, match=f"argument '{option}': 'float' object cannot be interpreted as an integer"):
        TRUTH.fit_many([(F, Z)], guess_init=False, **{option: 2.0})
