"""The Circuit class: construction, model names, parse errors, the printed
table, parameter accessors, with_values and impedance arrays."""

import array
import gc
import math
import threading

import numpy as np
import pytest

from conftest import BrokenFloat, LyingLength
from vorlane import Circuit, Series

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
RC = "R0-(R1,C1)"
SEI = "R0-(R1,CPE1)-(R2-Wo2,CPE2)"
SEI_VALUES = [10, 20, 1e-4, 0.9, 30, 5, 2.0, 1e-3, 0.7]


def bits(z):
    """Exact bit patterns, NaN payloads and signed zeros included."""
    return np.ascontiguousarray(z).view(np.uint64)


@pytest.mark.parametrize("text", ["  R0-(R1,C1)\n", "\t\u3000R0-(R1,C1)\u00a0\r\n", "\u2028\x0bR0-(R1,C1)\u0085"])
def test_unicode_white_space_is_trimmed(text):
    assert repr(Circuit(text)) == repr(Circuit(RC))


@pytest.mark.parametrize(
    "name, circuit",
    [
        ("randles", "R0-(R1-W1,CPE1)"),
        ("RANDLES", "R0-(R1-W1,CPE1)"),
        (" randles\n", "R0-(R1-W1,CPE1)"),
        ("rc", RC),
        ("Two_RQ_L", "L0-R0-(R1,CPE1)-(R2,CPE2)"),
        ("SEI_RANDLES_WO", SEI),
    ],
)
def test_model_names_build_the_registry_circuit(name, circuit):
    assert repr(Circuit(name)) == repr(Circuit(circuit))


@pytest.mark.parametrize("value", [1, None, b"R0", ["R0"]])
def test_constructor_refuses_non_str(value):
    with pytest.raises(TypeError, match="'s'"):
        Circuit(value)


@pytest.mark.parametrize(
    "text, message",
    [
        ("   ", "unexpected end of input"),
        ("R", "unexpected character at position 1\n\n  R\n   ^"),
        ("R0-(R1,X2)", 'unknown element code "X" at position 7\n\n  R0-(R1,X2)\n         ^'),
        (" R0 -C1\n", "unexpected trailing input at position 2\n\n  R0 -C1\n    ^"),
        ("R1-(R2,R1)", 'duplicate element label "R1"'),
        ("R0-\u03a91", "unexpected character at position 3\n\n  R0-\u03a91\n     ^"),
        ("\x1cR0", "unexpected character at position 0\n\n  \x1cR0\n  ^"),  # not White_Space
        ("R0\x00C1", "unexpected trailing input at position 2\n\n  R0\x00C1\n    ^"),
    ],
)
def test_parse_errors_carry_the_full_message(text, message):
    with pytest.raises(ValueError) as caught:
        Circuit(text)
    assert str(caught.value) == message + "\n\n" + HELP


def test_repr_forms():
    assert repr(Circuit(RC)) == (
        "Circuit (3 parameters)\n"
        "  R0.r = 1          [ohm]  bounds (1e-12, inf)\n"
        "  R1.r = 1          [ohm]  bounds (1e-12, inf)\n"
        "  C1.c = 0.001      [F]  bounds (1e-12, inf)"
    )
    assert repr(Circuit("R0")) == "Circuit (1 parameter)\n  R0.r = 1          [ohm]  bounds (1e-12, inf)"
    assert repr(Series([])) == "Circuit (0 parameters)\n"
    assert str(Circuit("R0-CPE12").with_values([2.5e6, 0.5, 0.25])) == (
        "Circuit (3 parameters)\n"
        "  R0.r        = 2.5e6      [ohm]  bounds (1e-12, inf)\n"
        "  CPE12.q     = 0.5        [ohm^-1*s^alpha]  bounds (1e-12, inf)\n"
        "  CPE12.alpha = 0.25       [-]  bounds (0, 1)"
    )


@pytest.mark.parametrize(
    "value, text",
    [(1234567.0, "1.234567e6"), (0.00001, "1e-5"), (0.5, "0.5"), (0.0001, "0.0001"), (999999.0, "999999"),
     (1e6, "1e6"), (-0.0, "-0"), (-math.inf, "-inf"), (math.nan, "NaN"), (5e-324, "5e-324"),
     (0.1 + 0.2, "0.30000000000000004")],
)
def test_repr_number_forms(value, text):
    row = repr(Circuit("R0").with_values([value])).split("\n")[1]
    assert row == f"  R0.r = {text:<10} [ohm]  bounds (1e-12, inf)"


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
        (10, 100, 1e-5),
        np.array([10.0, 100.0, 1e-5]),
        np.array([10.0, 0.0, 100.0, 0.0, 1e-5, 0.0])[::2],  # strided: no buffer fast path
        np.array([10.0, 100.0, 1e-5], dtype=">f8"),  # foreign byte order
        array.array("d", [10, 100, 1e-5]),
        LyingLength(3),
    ],
)
def test_with_values_accepts_numeric_sequences(values):
    c = Circuit("R0-(R1,C1)")
    assert c.with_values(values).param_values() == [float(values[i]) for i in range(3)]
    assert c.param_values() == [1.0, 1.0, 0.001]


@pytest.mark.parametrize(
    "values, error, message",
    [
        ([1.0] * 2, ValueError, "^expected 3 values, got 2$"),
        ([1.0] * 4, ValueError, "^expected 3 values, got 4$"),
        ("123", TypeError, "argument 'values'"),
        ({"R0.r": 1}, TypeError, "argument 'values'"),
        ((x for x in [1.0, 2.0, 3.0]), TypeError, "argument 'values'"),
        ([1.0, None, 3.0], TypeError, "argument 'values'"),
        ([1.0, 2.0, 1j], TypeError, "argument 'values'"),
        ([1.0, 2.0, 10**400], OverflowError, "argument 'values'"),
        ([1.0, 2.0, BrokenFloat()], ArithmeticError, "^argument 'values': broken __float__$"),
    ],
)
def test_with_values_errors(values, error, message):
    with pytest.raises(error, match=message):
        Circuit(RC).with_values(values)


FREQUENCIES = np.logspace(-2, 5, 40)
S = 2j * np.pi * FREQUENCIES


def t_formula(a, b, k_tau, tau, beta):
    return (a / np.tanh(beta) + b / np.sinh(beta)) / beta


ELEMENT_FORMULAS = [
    ("R0", [12.5], lambda p: np.full_like(S, p[0])),
    ("C0", [3e-5], lambda p: 1 / (S * p[0])),
    ("L0", [2e-6], lambda p: S * p[0]),
    ("La0", [2e-6, 0.7], lambda p: (S * p[0]) ** p[1]),
    ("CPE0", [2e-4, 0.85], lambda p: 1 / (p[0] * S ** p[1])),
    ("W0", [7.0], lambda p: (p[0] - 1j * p[0]) / np.sqrt(S.imag)),
    ("Wo0", [3.0, 0.5], lambda p: p[0] / (np.sqrt(S * p[1]) * np.tanh(np.sqrt(S * p[1])))),
    ("Ws0", [3.0, 0.5], lambda p: p[0] * np.tanh(np.sqrt(S * p[1])) / np.sqrt(S * p[1])),
    ("G0", [4.0, 0.02], lambda p: p[0] / np.sqrt(1 + S * p[1])),
    ("Gs0", [4.0, 0.02, 1.7], lambda p: p[0] / (np.sqrt(1 + S * p[1]) * np.tanh(p[2] * np.sqrt(1 + S * p[1])))),
    ("K0", [5.0, 1e-3], lambda p: p[0] / (1 + S * p[1])),
    ("Zarc0", [5.0, 1e-3, 0.75], lambda p: p[0] / (1 + (S * p[1]) ** p[2])),
    ("TLMQ0", [2.0, 1e-3, 0.9], lambda p: np.sqrt(p[0] / (p[1] * S ** p[2])) / np.tanh(np.sqrt(p[0] * p[1] * S**p[2]))),
    ("T0", [2.0, 3.0, 1.5, 1e-4], lambda p: t_formula(*p, beta=np.sqrt(p[2] + S * p[3]))),
]


@pytest.mark.parametrize("text, values, formula", ELEMENT_FORMULAS, ids=[e[0] for e in ELEMENT_FORMULAS])
def test_element_impedance_matches_numpy(text, values, formula):
    z = Circuit(text).with_values(values).impedance(FREQUENCIES)
    np.testing.assert_allclose(z, formula(values), rtol=1e-12, atol=0)


def test_impedance_edge_values():
    assert Circuit(RC).impedance([1000 / (2 * math.pi)])[0] == pytest.approx(1.5 - 0.5j, rel=1e-12)
    z = Circuit("R0-C1").impedance([0.0, -1.0, math.inf, math.nan])
    assert np.isnan(z[0].real) and np.isnan(z[0].imag)  # no special case at f = 0
    assert np.isfinite(z[1]) and not np.isfinite(z[2:]).any()


def test_real_spectrum_matches_the_known_fit(dummy_cell_a):
    z = Circuit(RC).with_values([29.1, 46.7, 1.04e-5]).impedance(dummy_cell_a.frequencies)
    below_inductive_range = dummy_cell_a.frequencies < 30e3
    relative = np.abs(z / dummy_cell_a.impedances - 1)
    assert relative[below_inductive_range].max() < 0.05


def test_parallel_evaluation_is_bit_identical_to_sequential():
    c = Circuit(SEI).with_values(SEI_VALUES)
    f = np.logspace(-3, 6, 6000)  # over the worker pool
    f[[17, 500, 5900]] = [0.0, math.nan, -3.0]
    z = c.impedance(f)
    assert np.array_equal(bits(z[:999]), bits(c.impedance(f[:999])))
    assert np.array_equal(bits(z), bits(np.array([c.impedance([x])[0] for x in f])))


def test_concurrent_callers_get_their_own_results():
    circuits = [Circuit(RC).with_values([k, 2.0 * k, 1e-4]) for k in range(1, 5)]
    f = np.logspace(-1, 5, 5000)
    expected = [bits(c.impedance(f)) for c in circuits]
    mismatches = []

    def run(c, want):
        mismatches.extend(not np.array_equal(bits(c.impedance(f)), want) for _ in range(5))

    threads = [threading.Thread(target=run, args=pair) for pair in zip(circuits, expected)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert mismatches == [False] * 20


@pytest.mark.parametrize("n", [0, 1, 1000])
def test_impedance_array_owns_its_memory(n):
    c = Circuit(RC)
    z = c.impedance(np.linspace(1, 1e4, n))
    assert type(z) is np.ndarray and z.dtype == np.complex128 and z.shape == (n,)
    assert z.flags.writeable and z.flags.c_contiguous and z.flags.aligned and not z.flags.owndata
    assert z.base is not None and not isinstance(z.base, np.ndarray)
    expected = z.copy()
    del c
    gc.collect()
    assert np.array_equal(z, expected)
    z[:] = 5 + 6j


@pytest.mark.parametrize(
    "frequencies",
    [
        np.array([1, 10], dtype=np.int32),
        np.array([1.0, 5.0, 10.0])[::2],
        np.frombuffer(np.array([1.0, 10.0]).tobytes()),  # read-only, read in place
        memoryview(array.array("d", [1.0, 10.0])),
        {"Frequency / Hz": [1.0, 10.0], "frequency_hertz": [3.0]},
        {"frequency_hertz": np.array([1.0, 10.0])},
    ],
)
def test_impedance_input_forms(frequencies):
    c = Circuit("R0-C1")
    assert np.array_equal(c.impedance(frequencies), c.impedance([1.0, 10.0]))


def test_impedance_of_a_dataframe(measured_spectrum):
    pandas = pytest.importorskip("pandas")
    c = Circuit(RC).with_values([29.1, 46.7, 1.04e-5])
    frame = pandas.DataFrame(measured_spectrum.columns)
    expected = c.impedance(measured_spectrum.frequencies)
    assert np.array_equal(c.impedance(frame), expected)
    assert np.array_equal(c.impedance(frame.rename(columns={"Frequency / Hz": "frequency_hertz"})), expected)


@pytest.mark.parametrize(
    "frequencies, message",
    [
        (arg, 'expected a sequence of frequencies, or a dataframe with a "Frequency / Hz" or "frequency_hertz" column')
        for arg in ["100", ["a", "b"], {"frequency": [1.0]}, 5, None, [[1.0, 2.0]], [BrokenFloat()]]
    ]
    + [({"Frequency / Hz": ["a"]}, 'column "Frequency / Hz" is not numeric'),
       ({"frequency_hertz": "12"}, 'column "frequency_hertz" is not numeric')],
)
def test_impedance_without_frequencies(frequencies, message):
    with pytest.raises(ValueError) as caught:
        Circuit("R0").impedance(frequencies)
    assert str(caught.value) == message


@pytest.mark.parametrize(
    "name, signature, doc",
    [
        ("param_names", "($self)",
         "Parameter names, in the same order `with_values()` consumes and\n`with_named_values()` expects as keys."),
        ("param_units", "($self)", "Physical units per parameter"),
        ("param_bounds", "($self)", "Default physical-validity `(lo, hi)` bounds per parameter, in\n"
         "`param_names()` order. `hi` is `inf` for open-bound parameters."),
        ("param_values", "($self)", "Current parameter values, in `param_names()` order."),
        ("with_values", "($self, values)",
         "Rebuild this circuit with a new flat parameter vector, assigned\npositionally in `param_names()` order."),
        ("with_named_values", "($self, values)", "Rebuild this circuit with parameter values looked up by name (see\n"
         "`param_names()`). Every name must be present and no unknown names\nmay be supplied."),
        ("impedance", "($self, frequencies)", None),
    ],
)
def test_method_signatures_and_docstrings(name, signature, doc):
    assert getattr(Circuit, name).__text_signature__ == signature
    assert getattr(Circuit, name).__doc__ == doc


def test_class_surface_is_immutable():
    assert Circuit.__text_signature__ == "(s)" and not Circuit.__doc__
    assert isinstance(Circuit.__dict__["ml_circuits"], staticmethod)
    with pytest.raises(AttributeError):
        Circuit("R0").anything = 1
    with pytest.raises(TypeError):
        Circuit.param_names = None
    with pytest.raises(TypeError):
        type("Sub", (Circuit,), {})
