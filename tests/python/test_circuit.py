"""The Circuit class: construction, model names, parse errors, the printed
table, parameter accessors, with_values and impedance arrays."""

import array
import gc
import math
import threading

import numpy as np
import pytest

import vorlane
from conftest import BrokenFloat, LyingLength
from vorlane import Circuit

HELP = """syntax:
  - every element needs a numeric label, e.g. "R0" and "C1", not "R" and "C"
  - connect elements in series with '-', e.g. "R0-C1"
  - connect elements in parallel with '(...)' or 'p(...)', e.g. "R0-(R1,C1)" or "R0-p(R1,C1)"

available elements (code, parameters, [units]):
  R     r [ohm]
  C     c [F]
  L     l [H]
  La    l [H*s], alpha [-]
  CPE   q [ohm^-1*s^alpha], alpha [-]
  W     aw [ohm*s^-0.5]
  Wo    z0 [ohm], tau [s]
  Ws    z0 [ohm], tau [s]
  G     rg [ohm], tg [s]
  Gs    rg [ohm], tg [s], phi [-]
  K     r [ohm], tau_k [s]
  Zarc  r [ohm], tau_k [s], gamma [-]
  TLMQ  r_ion [ohm], qs [F*s^(gamma-1)], gamma [-]
  T     a [ohm*m^2], b [ohm*m^2], k_tau [-], tau [s]"""

FREQUENCY_MESSAGE = (
    'expected a sequence of frequencies, or a dataframe with a "Frequency / Hz" or "frequency_hertz" column'
)


def bits(z):
    """The exact bit patterns of a complex array, NaN payloads and signed
    zeros included."""
    return np.ascontiguousarray(z).view(np.uint64)


# --- construction -----------------------------------------------------------


@pytest.mark.parametrize(
    "text",
    [
        "  R0-(R1,C1)\n",
        "\tR0-(R1,C1)\r\n",
        "\u3000R0-(R1,C1)\u00a0",
        "\u2028R0-(R1,C1)\u0085\u200a",
        "\x0b\x0cR0-(R1,C1)",
    ],
)
def test_unicode_white_space_is_trimmed(text):
    assert repr(Circuit(text)) == repr(Circuit("R0-(R1,C1)"))


@pytest.mark.parametrize("separator", ["\x1c", "\x1f", "\u200b", "\ufeff"])
def test_characters_outside_white_space_are_kept(separator):
    with pytest.raises(ValueError, match="^unexpected character at position 0\n"):
        Circuit(separator + "R0")


@pytest.mark.parametrize(
    "name, circuit",
    [
        ("randles", "R0-(R1-W1,CPE1)"),
        ("RANDLES", "R0-(R1-W1,CPE1)"),
        (" randles\n", "R0-(R1-W1,CPE1)"),
        ("Randles", "R0-(R1-W1,CPE1)"),
        ("rc", "R0-(R1,C1)"),
        ("Two_RQ_L", "L0-R0-(R1,CPE1)-(R2,CPE2)"),
        ("SEI_RANDLES_WO", "R0-(R1,CPE1)-(R2-Wo2,CPE2)"),
    ],
)
def test_model_names_build_the_registry_circuit(name, circuit):
    built, expected = Circuit(name), Circuit(circuit)
    assert built.param_names() == expected.param_names()
    assert repr(built) == repr(expected)


@pytest.mark.parametrize("text", ["randles1", "two-rc", "randle", "randles randles"])
def test_near_model_names_are_parsed_as_circuits(text):
    with pytest.raises(ValueError):
        Circuit(text)


@pytest.mark.parametrize("value", [1, None, b"R0", ["R0"], 1.5])
def test_constructor_refuses_non_str(value):
    with pytest.raises(TypeError, match="'s'"):
        Circuit(value)


def test_constructor_takes_keyword_and_refuses_extra_arguments():
    assert Circuit(s="R0").param_names() == ["R0.r"]
    with pytest.raises(TypeError):
        Circuit("R0", "C1")
    with pytest.raises(TypeError):
        Circuit()


@pytest.mark.parametrize(
    "text, message",
    [
        ("", "unexpected end of input\n\n" + HELP),
        ("   ", "unexpected end of input\n\n" + HELP),
        ("R", "unexpected character at position 1\n\n  R\n   ^\n\n" + HELP),
        ("R0-(R1,X2)", 'unknown element code "X" at position 7\n\n  R0-(R1,X2)\n         ^\n\n' + HELP),
        (" R0 -C1\n", "unexpected trailing input at position 2\n\n  R0 -C1\n    ^\n\n" + HELP),
        ("R1-(R2,R1)", 'duplicate element label "R1"\n\n' + HELP),
        ("\u03a91", "unexpected character at position 0\n\n  \u03a91\n  ^\n\n" + HELP),
        ("R0-\u03a91", "unexpected character at position 3\n\n  R0-\u03a91\n     ^\n\n" + HELP),
        ("R0\x00C1", "unexpected trailing input at position 2\n\n  R0\x00C1\n    ^\n\n" + HELP),
    ],
)
def test_parse_errors_carry_the_full_message(text, message):
    with pytest.raises(ValueError) as caught:
        Circuit(text)
    assert str(caught.value) == message


def test_lone_surrogate_is_a_value_error():
    with pytest.raises(ValueError):
        Circuit("R0-\ud800")


# --- printed form -------------------------------------------------------------


def test_repr_of_parsed_circuit():
    assert repr(Circuit("R0-(R1,C1)")) == (
        "Circuit (3 parameters)\n"
        "  R0.r = 1          [ohm]  bounds (1e-12, inf)\n"
        "  R1.r = 1          [ohm]  bounds (1e-12, inf)\n"
        "  C1.c = 0.001      [F]  bounds (1e-12, inf)"
    )


def test_repr_singular_and_empty():
    assert repr(Circuit("R0")) == "Circuit (1 parameter)\n  R0.r = 1          [ohm]  bounds (1e-12, inf)"
    assert repr(vorlane.Series([])) == "Circuit (0 parameters)\n"
    assert str(Circuit("R0")) == repr(Circuit("R0"))


def test_repr_pads_names_to_the_longest():
    assert repr(Circuit("R0-CPE12").with_values([2.5e6, 0.5, 0.25])) == (
        "Circuit (3 parameters)\n"
        "  R0.r        = 2.5e6      [ohm]  bounds (1e-12, inf)\n"
        "  CPE12.q     = 0.5        [ohm^-1*s^alpha]  bounds (1e-12, inf)\n"
        "  CPE12.alpha = 0.25       [-]  bounds (0, 1)"
    )


@pytest.mark.parametrize(
    "value, text",
    [
        (1234567.0, "1.234567e6"),
        (0.00001, "1e-5"),
        (0.5, "0.5"),
        (0.0001, "0.0001"),
        (0.0000999, "9.99e-5"),
        (999999.0, "999999"),
        (1e6, "1e6"),
        (-0.0, "-0"),
        (0.0, "0"),
        (-12.75, "-12.75"),
        (math.inf, "inf"),
        (-math.inf, "-inf"),
        (math.nan, "NaN"),
        (1e-300, "1e-300"),
        (5e-324, "5e-324"),
        (0.1 + 0.2, "0.30000000000000004"),
    ],
)
def test_repr_number_forms(value, text):
    row = repr(Circuit("R0").with_values([value])).split("\n")[1]
    value_field = row.split(" = ", 1)[1].split(" [", 1)[0]
    assert value_field == text.ljust(10)


# --- parameter accessors and with_values -------------------------------------------


def test_accessors_follow_layout_order():
    c = Circuit("R0-(R1,CPE1)-Zarc2")
    assert c.param_names() == ["R0.r", "R1.r", "CPE1.q", "CPE1.alpha", "Zarc2.r", "Zarc2.tau_k", "Zarc2.gamma"]
    assert c.param_units() == ["ohm", "ohm", "ohm^-1*s^alpha", "-", "ohm", "s", "-"]
    bounds = c.param_bounds()
    assert bounds == [(1e-12, math.inf)] * 3 + [(0.0, 1.0)] + [(1e-12, math.inf)] * 2 + [(0.0, 1.0)]
    assert all(type(b) is tuple and all(type(x) is float for x in b) for b in bounds)
    assert c.param_values() == [1.0, 1.0, 0.001, 0.8, 1.0, 0.001, 0.8]


@pytest.mark.parametrize(
    "values",
    [
        [10, 100, 1e-5],
        (10.0, 100.0, 1e-5),
        np.array([10.0, 100.0, 1e-5]),
        np.array([10.0, 0.0, 100.0, 0.0, 1e-5, 0.0])[::2],
        np.array([10, 100, 1e-5], dtype=np.float32).astype(np.float64),
        np.array([10, 100, 0], dtype=np.int64) + np.array([0, 0, 1e-5]),
        array.array("d", [10, 100, 1e-5]),
        memoryview(array.array("d", [10, 100, 1e-5])),
        range(3),
    ],
)
def test_with_values_accepts_numeric_sequences(values):
    c = Circuit("R0-(R1,C1)")
    rebuilt = c.with_values(values)
    assert rebuilt.param_values() == [float(v) for v in values]
    assert c.param_values() == [1.0, 1.0, 0.001]
    assert rebuilt is not c


def test_with_values_keeps_big_endian_values_exact():
    values = np.array([10.5, 100.25, 1e-5], dtype=">f8")
    assert Circuit("R0-(R1,C1)").with_values(values).param_values() == [10.5, 100.25, 1e-5]


@pytest.mark.parametrize("count", [0, 2, 4])
def test_with_values_wrong_count(count):
    with pytest.raises(ValueError) as caught:
        Circuit("R0-(R1,C1)").with_values([1.0] * count)
    assert str(caught.value) == f"expected 3 values, got {count}"


@pytest.mark.parametrize(
    "values, error",
    [
        ("123", TypeError),
        (5, TypeError),
        ({"R0.r": 1}, TypeError),
        ({1.0, 2.0, 3.0}, TypeError),
        ((x for x in [1.0, 2.0, 3.0]), TypeError),
        ([1.0, "2", 3.0], TypeError),
        ([1.0, None, 3.0], TypeError),
        ([1.0, 2.0, 1j], TypeError),
        ([1.0, 2.0, 10**400], OverflowError),
    ],
)
def test_with_values_conversion_errors_name_the_argument(values, error):
    with pytest.raises(error, match="argument 'values'"):
        Circuit("R0-(R1,C1)").with_values(values)


def test_with_values_conversion_keeps_the_exception_type():
    with pytest.raises(ArithmeticError, match="argument 'values': broken __float__"):
        Circuit("R0").with_values([BrokenFloat()])


def test_with_values_does_not_trust_len():
    assert Circuit("R0-R1-R2").with_values(LyingLength(3)).param_values() == [1.0, 2.0, 3.0]


# --- impedance -------------------------------------------------------------------

FREQUENCIES = np.logspace(-2, 5, 40)
OMEGA = 2 * np.pi * FREQUENCIES
S = 1j * OMEGA


def _sqrt(z):
    return np.sqrt(z)


ELEMENT_FORMULAS = [
    ("R0", [12.5], lambda p: np.full_like(S, p[0])),
    ("C0", [3e-5], lambda p: 1 / (S * p[0])),
    ("L0", [2e-6], lambda p: S * p[0]),
    ("La0", [2e-6, 0.7], lambda p: (S * p[0]) ** p[1]),
    ("CPE0", [2e-4, 0.85], lambda p: 1 / (p[0] * S ** p[1])),
    ("W0", [7.0], lambda p: (p[0] - 1j * p[0]) / np.sqrt(OMEGA)),
    ("Wo0", [3.0, 0.5], lambda p: p[0] / (_sqrt(S * p[1]) * np.tanh(_sqrt(S * p[1])))),
    ("Ws0", [3.0, 0.5], lambda p: p[0] * np.tanh(_sqrt(S * p[1])) / _sqrt(S * p[1])),
    ("G0", [4.0, 0.02], lambda p: p[0] / _sqrt(1 + S * p[1])),
    ("Gs0", [4.0, 0.02, 1.7], lambda p: p[0] / (_sqrt(1 + S * p[1]) * np.tanh(p[2] * _sqrt(1 + S * p[1])))),
    ("K0", [5.0, 1e-3], lambda p: p[0] / (1 + S * p[1])),
    ("Zarc0", [5.0, 1e-3, 0.75], lambda p: p[0] / (1 + (S * p[1]) ** p[2])),
    (
        "TLMQ0",
        [2.0, 1e-3, 0.9],
        lambda p: _sqrt(p[0] / (p[1] * S ** p[2])) / np.tanh(_sqrt(p[0] * p[1] * S ** p[2])),
    ),
    (
        "T0",
        [2.0, 3.0, 1.5, 1e-4],
        lambda p: p[0] / (_sqrt(p[2] + S * p[3]) * np.tanh(_sqrt(p[2] + S * p[3])))
        + p[1] / (_sqrt(p[2] + S * p[3]) * np.sinh(_sqrt(p[2] + S * p[3]))),
    ),
]


@pytest.mark.parametrize("text, values, formula", ELEMENT_FORMULAS, ids=[e[0] for e in ELEMENT_FORMULAS])
def test_element_impedance_matches_numpy(text, values, formula):
    z = Circuit(text).with_values(values).impedance(FREQUENCIES)
    np.testing.assert_allclose(z, formula(values), rtol=1e-12, atol=0)


def test_tree_impedance_at_unit_angular_frequency():
    z = Circuit("R0-(R1,C1)").impedance([1000 / (2 * math.pi)])
    assert z.shape == (1,)
    assert z[0] == pytest.approx(1.5 - 0.5j, rel=1e-12)


def test_mixed_tree_matches_numpy():
    c = Circuit("R0-(R1,CPE1)-(R2-Wo2,CPE2)").with_values([10, 20, 1e-4, 0.9, 30, 5, 2.0, 1e-3, 0.7])
    cpe1 = 1 / (1e-4 * S**0.9)
    cpe2 = 1 / (1e-3 * S**0.7)
    wo = 5 / (np.sqrt(S * 2.0) * np.tanh(np.sqrt(S * 2.0)))
    expected = 10 + 1 / (1 / 20 + 1 / cpe1) + 1 / (1 / (30 + wo) + 1 / cpe2)
    np.testing.assert_allclose(c.impedance(FREQUENCIES), expected, rtol=1e-12)


def test_real_spectrum_matches_the_known_fit(dummy_cell_a):
    model = Circuit("R0-(R1,C1)").with_values([29.1, 46.7, 1.04e-5])
    z = model.impedance(dummy_cell_a.frequencies)
    below_inductive_range = dummy_cell_a.frequencies < 30e3
    relative = np.abs(z - dummy_cell_a.impedances) / np.abs(dummy_cell_a.impedances)
    assert relative[below_inductive_range].max() < 0.05


@pytest.mark.parametrize(
    "frequency, finite",
    [(0.0, False), (-1.0, True), (math.inf, False), (math.nan, False)],
)
def test_unchecked_frequencies_give_ieee_results(frequency, finite):
    z = Circuit("R0-C1").impedance([frequency])
    assert np.isfinite(z[0]) == finite


def test_capacitor_at_zero_frequency_is_nan_in_both_parts():
    z = Circuit("C0").impedance([0.0])[0]
    assert math.isnan(z.real) and math.isnan(z.imag)


def test_parallel_evaluation_is_bit_identical_to_sequential():
    c = Circuit("R0-(R1,CPE1)-(R2-Wo2,CPE2)").with_values([10, 20, 1e-4, 0.9, 30, 5, 2.0, 1e-3, 0.7])
    f = np.logspace(-3, 6, 1000)
    f[17] = 0.0
    f[500] = math.nan
    f[900] = -3.0
    z1000 = c.impedance(f)
    z999 = c.impedance(f[:999])
    assert np.array_equal(bits(z1000[:999]), bits(z999))
    one_by_one = np.array([c.impedance([x])[0] for x in f])
    assert np.array_equal(bits(z1000), bits(one_by_one))


def test_concurrent_callers_get_their_own_results():
    circuits = [Circuit("R0-(R1,C1)").with_values([k, 2.0 * k, 1e-4]) for k in range(1, 5)]
    f = np.logspace(-1, 5, 5000)
    expected = [c.impedance(f) for c in circuits]
    results = [None] * len(circuits)

    def run(i):
        for _ in range(5):
            results[i] = circuits[i].impedance(f)

    threads = [threading.Thread(target=run, args=(i,)) for i in range(len(circuits))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for got, want in zip(results, expected):
        assert np.array_equal(bits(got), bits(want))


@pytest.mark.parametrize("n", [0, 1, 999, 1000])
def test_impedance_array_owns_its_memory(n):
    z = Circuit("R0-(R1,C1)").impedance(np.linspace(1, 1e4, n))
    assert type(z) is np.ndarray
    assert z.dtype == np.complex128 and z.shape == (n,) and z.ndim == 1
    assert z.flags.writeable and z.flags.c_contiguous and z.flags.aligned
    assert not z.flags.owndata
    assert z.base is not None and not isinstance(z.base, np.ndarray)


def test_impedance_array_outlives_its_circuit_and_is_writeable():
    c = Circuit("R0-(R1,C1)")
    z = c.impedance([1.0, 10.0, 100.0])
    expected = z.copy()
    del c
    gc.collect()
    assert np.array_equal(z, expected)
    z[0] = 5 + 6j
    assert z[0] == 5 + 6j
    other = Circuit("R0-(R1,C1)").impedance([1.0, 10.0, 100.0])
    assert other[0] == expected[0]


def test_impedance_of_empty_input():
    z = Circuit("R0").impedance([])
    assert z.dtype == np.complex128 and z.shape == (0,)


@pytest.mark.parametrize(
    "frequencies",
    [
        [1.0, 10.0],
        (1, 10),
        np.array([1.0, 10.0]),
        np.array([1.0, 5.0, 10.0])[::2],
        np.array([1, 10], dtype=np.int32),
        array.array("d", [1.0, 10.0]),
        {"Frequency / Hz": [1.0, 10.0]},
        {"frequency_hertz": [1.0, 10.0]},
        {"Frequency / Hz": [1.0, 10.0], "frequency_hertz": [3.0]},
        {"Frequency / Hz": np.array([1.0, 10.0])},
    ],
)
def test_impedance_input_forms(frequencies):
    c = Circuit("R0-C1")
    assert np.array_equal(c.impedance(frequencies), c.impedance([1.0, 10.0]))


def test_impedance_of_a_dataframe(measured_spectrum):
    pandas = pytest.importorskip("pandas")
    c = Circuit("R0-(R1,C1)").with_values([29.1, 46.7, 1.04e-5])
    frame = pandas.DataFrame(measured_spectrum.columns)
    expected = c.impedance(measured_spectrum.frequencies)
    assert np.array_equal(c.impedance(frame), expected)
    assert np.array_equal(c.impedance(measured_spectrum.columns), expected)
    renamed = frame.rename(columns={"Frequency / Hz": "frequency_hertz"})
    assert np.array_equal(c.impedance(renamed), expected)


def test_dataframe_rows_are_not_filtered():
    z = Circuit("R0-C1").impedance({"Frequency / Hz": [0.0, -1.0, 1.0]})
    assert z.shape == (3,) and math.isnan(z[0].imag)


@pytest.mark.parametrize(
    "frequencies",
    ["100", ["a", "b"], {"frequency": [1.0]}, {}, 5, None, object(), [[1.0, 2.0]]],
)
def test_impedance_without_frequencies(frequencies):
    with pytest.raises(ValueError) as caught:
        Circuit("R0").impedance(frequencies)
    assert str(caught.value) == FREQUENCY_MESSAGE


@pytest.mark.parametrize(
    "frame, name",
    [
        ({"Frequency / Hz": ["a"]}, "Frequency / Hz"),
        ({"Frequency / Hz": 5.0}, "Frequency / Hz"),
        ({"frequency_hertz": "12"}, "frequency_hertz"),
    ],
)
def test_impedance_non_numeric_column(frame, name):
    with pytest.raises(ValueError) as caught:
        Circuit("R0").impedance(frame)
    assert str(caught.value) == f'column "{name}" is not numeric'


def test_impedance_keyword_and_arity():
    c = Circuit("R0")
    assert c.impedance(frequencies=[1.0])[0] == 1.0
    with pytest.raises(TypeError):
        c.impedance()
    with pytest.raises(TypeError):
        c.impedance([1.0], [2.0])


# --- method table -------------------------------------------------------------------


@pytest.mark.parametrize(
    "name, signature, doc",
    [
        (
            "param_names",
            "($self)",
            "Parameter names, in the same order `with_values()` consumes and\n`with_named_values()` expects as keys.",
        ),
        ("param_units", "($self)", "Physical units per parameter"),
        (
            "param_bounds",
            "($self)",
            "Default physical-validity `(lo, hi)` bounds per parameter, in\n"
            "`param_names()` order. `hi` is `inf` for open-bound parameters.",
        ),
        ("param_values", "($self)", "Current parameter values, in `param_names()` order."),
        (
            "with_values",
            "($self, values)",
            "Rebuild this circuit with a new flat parameter vector, assigned\npositionally in `param_names()` order.",
        ),
        (
            "with_named_values",
            "($self, values)",
            "Rebuild this circuit with parameter values looked up by name (see\n"
            "`param_names()`). Every name must be present and no unknown names\nmay be supplied.",
        ),
        ("impedance", "($self, frequencies)", None),
    ],
)
def test_method_signatures_and_docstrings(name, signature, doc):
    method = getattr(Circuit, name)
    assert method.__text_signature__ == signature
    assert method.__doc__ == doc


def test_class_signature_and_docstring():
    assert Circuit.__text_signature__ == "(s)"
    assert not Circuit.__doc__
    assert isinstance(Circuit.__dict__["ml_circuits"], staticmethod)
    for name in ["residuals", "jacobian", "fit", "guess"]:
        assert callable(getattr(Circuit("R0"), name))


def test_circuits_are_immutable():
    c = Circuit("R0")
    with pytest.raises((AttributeError, TypeError)):
        c.anything = 1
    with pytest.raises(TypeError):
        Circuit.param_names = None
    with pytest.raises(TypeError):

        class Sub(Circuit):
            pass
