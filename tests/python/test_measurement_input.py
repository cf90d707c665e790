"""Spectrum input (two sequences or a dataframe) and weighting names, observed
through Circuit.residuals: with weight "unit", a resistor of 0 ohm returns
minus the measured impedances and a 1 F capacitor adds -1/(2*pi*f) to the
imaginary parts, which reveals the frequencies."""

import math

import numpy as np
import pytest

import vorlane

FREQ_PAIR = '"Frequency / Hz" or "frequency_hertz"'
REAL_PAIR = '"Real Impedance / ohm" or "real_impedance_ohm"'
IMAG_PAIR = '"Imaginary Impedance / ohm" or "imaginary_impedance_ohm"'
MOD_PAIR = '"Absolute Impedance / ohm" or "absolute_impedance_ohm"'
PHASE_PAIR = '"Phase / deg" or "phase_degree"'

ZERO_OHM = vorlane.Circuit("R0")
ONE_FARAD = vorlane.Circuit("C0")


def read_back(frequencies, impedances=None):
    """The spectrum vorlane built from these arguments, as numpy arrays."""
    r = np.array(ZERO_OHM.residuals([0.0], frequencies, impedances, weight="unit"))
    z = -(r[0::2] + 1j * r[1::2])
    c = np.array(ONE_FARAD.residuals([1.0], frequencies, impedances, weight="unit"))
    f = -1.0 / (2 * math.pi * (c[1::2] + z.imag))
    return f, z


class WithComplex:
    def __init__(self, value):
        self.value = value

    def __complex__(self):
        return self.value


class ComplexRaises:
    def __complex__(self):
        raise KeyError("broken __complex__")


class RealRaises:
    def __float__(self):
        raise ArithmeticError("broken __float__")


class LyingLength:
    """Claims an enormous length but yields two items."""

    def __len__(self):
        return 2**62

    def __getitem__(self, i):
        if i < 2:
            return float(i + 1)
        raise IndexError


class FailingIteration:
    def __len__(self):
        return 3

    def __getitem__(self, i):
        if i == 1:
            raise RuntimeError("sensor unplugged")
        return 1.0


# --- two-sequence form -------------------------------------------------------

@pytest.mark.parametrize("impedances, expected", [
    ([1 + 2j, 3 - 4j], [1 + 2j, 3 - 4j]),
    ((5.0, 7), [5, 7]),
    (np.array([1 + 1j, 2 - 2j]), [1 + 1j, 2 - 2j]),
    (np.array([1.5, -2.5]), [1.5, -2.5]),
    (np.array([3, 4], dtype=np.int32), [3, 4]),
    ([WithComplex(2 - 3j), WithComplex(1.5)], [2 - 3j, 1.5]),
    ([np.complex64(1 + 1j), np.float32(2.0)], [1 + 1j, 2]),
    (np.array([1 + 2j, 3 + 4j, 5 + 6j])[::2], [1 + 2j, 5 + 6j]),
])
def test_complex_element_rules(impedances, expected):
    f = [1.0, 2.0]
    got_f, got_z = read_back(f, impedances)
    np.testing.assert_allclose(got_f, f, rtol=1e-9)
    assert list(got_z) == expected


def test_zero_and_negative_frequencies_are_kept_in_two_sequence_form():
    f = [0.0, -3.0, 5.0]
    r = ZERO_OHM.residuals([0.0], f, [1, 2, 3], weight="unit")
    assert r == [-1.0, -0.0, -2.0, -0.0, -3.0, -0.0]


@pytest.mark.parametrize("frequencies, impedances, exc, message", [
    ("123", [1.0], TypeError, "'str' object cannot be converted to 'Sequence'"),
    ([1.0], "1+2j", TypeError, "'str' object cannot be converted to 'Sequence'"),
    (5, [1.0], TypeError, "'int' object cannot be converted to 'Sequence'"),
    ([1.0], 5.0, TypeError, "'float' object cannot be converted to 'Sequence'"),
    ([1.0], (x for x in [1.0]), TypeError, "'generator' object cannot be converted to 'Sequence'"),
    ([1.0, 2.0], [1.0], ValueError, "frequencies and impedances must have the same length"),
    ([], [1.0], ValueError, "frequencies and impedances must have the same length"),
    # frequencies are converted before impedances
    ("abc", 5, TypeError, "'str' object cannot be converted to 'Sequence'"),
])
def test_two_sequence_errors(frequencies, impedances, exc, message):
    with pytest.raises(exc) as info:
        ZERO_OHM.residuals([1.0], frequencies, impedances)
    assert str(info.value) == message


@pytest.mark.parametrize("impedances, exc, fragment", [
    ([ComplexRaises()], KeyError, "broken __complex__"),
    ([RealRaises()], ArithmeticError, "broken __float__"),
    (["1+2j"], TypeError, "str"),
    ([None], TypeError, "NoneType"),
    (FailingIteration(), RuntimeError, "sensor unplugged"),
])
def test_element_errors_propagate_unchanged(impedances, exc, fragment):
    with pytest.raises(exc, match=fragment):
        ZERO_OHM.residuals([1.0], [1.0] * 3, impedances)


def test_frequency_element_errors_propagate_unchanged():
    with pytest.raises(TypeError, match="str"):
        ZERO_OHM.residuals([1.0], [1.0, "x"], [1.0, 1.0])


def test_length_hint_is_only_a_hint():
    f, z = read_back([1.0, 2.0], LyingLength())
    assert list(z) == [1, 2]


def test_non_finite_values_flow_through():
    r = ZERO_OHM.residuals([0.0], [1.0, math.inf, math.nan], [complex(math.nan, 1), math.inf, 2], weight="unit")
    assert math.isnan(r[0]) and r[1] == -1.0
    assert r[2] == -math.inf
    assert r[4] == -2.0


def test_empty_two_sequence_spectrum_is_accepted():
    assert ZERO_OHM.residuals([1.0], [], []) == []
    assert ZERO_OHM.jacobian([1.0], [], []) == []


def test_a_million_points():
    n = 1_000_000
    f = np.logspace(-3, 6, n)
    z = np.full(n, 2 + 1j)
    r = ZERO_OHM.residuals([2.0], f, z, weight="unit")
    assert len(r) == 2 * n
    assert r[0] == 0.0 and r[-1] == -1.0
    frame = {"Frequency / Hz": f, "Real Impedance / ohm": z.real, "Imaginary Impedance / ohm": z.imag}
    assert ZERO_OHM.residuals([2.0], frame, weight="unit") == r


# --- dataframe form ----------------------------------------------------------

BDF = ("Frequency / Hz", "Real Impedance / ohm", "Imaginary Impedance / ohm",
       "Absolute Impedance / ohm", "Phase / deg")
SNAKE = ("frequency_hertz", "real_impedance_ohm", "imaginary_impedance_ohm",
         "absolute_impedance_ohm", "phase_degree")


@pytest.mark.parametrize("names", [BDF, SNAKE, (SNAKE[0], BDF[1], SNAKE[2]), (BDF[0], SNAKE[1], BDF[2])])
def test_dataframe_real_imaginary_in_any_naming(names):
    frame = {names[0]: [10.0, 100.0], names[1]: [1.0, 2.0], names[2]: [-3.0, 4.0]}
    f, z = read_back(frame)
    np.testing.assert_allclose(f, [10.0, 100.0], rtol=1e-9)
    assert list(z) == [1 - 3j, 2 + 4j]


def test_dataframe_first_name_wins_over_second():
    frame = {"Frequency / Hz": [1.0], "frequency_hertz": [2.0],
             "Real Impedance / ohm": [5.0], "real_impedance_ohm": [6.0], "imaginary_impedance_ohm": [0.0]}
    f, z = read_back(frame)
    np.testing.assert_allclose(f, [1.0], rtol=1e-9)
    assert list(z) == [5]


def test_modulus_and_phase():
    frame = {"Frequency / Hz": [1.0, 2.0], "absolute_impedance_ohm": [10.0, 2.0], "Phase / deg": [-90.0, 30.0]}
    _, z = read_back(frame)
    assert z[0].real == 10.0 * math.cos(-90.0 * 0.017453292519943295)
    assert z[0].real > 0.0
    assert z[0].imag == -10.0
    assert z[1] == complex(2 * math.cos(30 * 0.017453292519943295), 2 * math.sin(30 * 0.017453292519943295))


def test_real_imaginary_preferred_over_modulus_phase():
    frame = {"Frequency / Hz": [1.0], "Real Impedance / ohm": [1.0], "Imaginary Impedance / ohm": [2.0],
             "Absolute Impedance / ohm": [100.0], "Phase / deg": [45.0]}
    assert list(read_back(frame)[1]) == [1 + 2j]


def test_row_filter_keeps_positive_frequencies_in_order():
    frame = {"Frequency / Hz": [5.0, 0.0, -1.0, math.nan, 2.0, math.inf],
             "Real Impedance / ohm": [1.0, 2.0, 3.0, 4.0, 5.0, 6.0],
             "Imaginary Impedance / ohm": [0.0] * 6}
    r = ZERO_OHM.residuals([0.0], frame, weight="unit")
    assert r[0::2] == [-1.0, -5.0, -6.0]


@pytest.mark.parametrize("frame, message", [
    ({"Real Impedance / ohm": [1.0], "Imaginary Impedance / ohm": [1.0]},
     f"expected a dataframe with a {FREQ_PAIR} column, or frequencies and impedances as two arguments"),
    ([1.0, 2.0, 3.0],
     f"expected a dataframe with a {FREQ_PAIR} column, or frequencies and impedances as two arguments"),
    ({"Frequency / Hz": [1.0], "Real Impedance / ohm": [1.0], "Phase / deg": [1.0]},
     f"no impedance columns: expected {REAL_PAIR} together with {IMAG_PAIR}, or {MOD_PAIR} together with "
     f"{PHASE_PAIR}"),
    ({"Frequency / Hz": [1.0], "Real Impedance / ohm": [1.0, 2.0], "Imaginary Impedance / ohm": [1.0]},
     "real and imaginary impedance columns must have the same length"),
    ({"Frequency / Hz": [1.0], "Absolute Impedance / ohm": [1.0, 2.0], "Phase / deg": [1.0]},
     "absolute impedance and phase columns must have the same length"),
    ({"Frequency / Hz": [1.0, 2.0], "real_impedance_ohm": [1.0], "Imaginary Impedance / ohm": [1.0]},
     f"frequency column has 2 rows but {REAL_PAIR} and {IMAG_PAIR} have 1"),
    ({"Frequency / Hz": [1.0], "Absolute Impedance / ohm": [1.0, 2.0], "Phase / deg": [1.0, 2.0]},
     f"frequency column has 1 rows but {MOD_PAIR} and {PHASE_PAIR} have 2"),
    ({"Frequency / Hz": [0.0, -2.0], "Real Impedance / ohm": [1.0, 1.0], "Imaginary Impedance / ohm": [0, 0]},
     f"no measured points: every row of the {FREQ_PAIR} column is zero or negative"),
    ({"Frequency / Hz": [], "Real Impedance / ohm": [], "Imaginary Impedance / ohm": []},
     f"no measured points: every row of the {FREQ_PAIR} column is zero or negative"),
    # every column is looked up before any decision: an unused phase column still fails
    ({"Frequency / Hz": [1.0], "Real Impedance / ohm": [1.0], "Imaginary Impedance / ohm": [1.0],
      "phase_degree": ["north"]}, 'column "phase_degree" is not numeric'),
    ({"frequency_hertz": "1,2,3", "Real Impedance / ohm": [1.0]}, 'column "frequency_hertz" is not numeric'),
    ({"Frequency / Hz": [1.0, [2.0]], "Real Impedance / ohm": [1.0]}, 'column "Frequency / Hz" is not numeric'),
    ({"Frequency / Hz": 7, "Real Impedance / ohm": [1.0]}, 'column "Frequency / Hz" is not numeric'),
])
def test_dataframe_errors(frame, message):
    with pytest.raises(ValueError) as info:
        ZERO_OHM.residuals([1.0], frame)
    assert str(info.value) == message


class FussyFrame:
    """Item access raising something other than KeyError counts as missing."""

    def __init__(self, columns):
        self.columns = columns

    def __getitem__(self, key):
        if key not in self.columns:
            raise RuntimeError("no such thing")
        return self.columns[key]


def test_any_item_access_error_means_missing_column():
    frame = FussyFrame({"frequency_hertz": [3.0], "real_impedance_ohm": [1.0], "imaginary_impedance_ohm": [2.0]})
    assert list(read_back(frame)[1]) == [1 + 2j]
    assert read_back(frame, None)[0][0] == pytest.approx(3.0)


def test_pandas_dataframe():
    pd = pytest.importorskip("pandas")
    frame = pd.DataFrame({"Frequency / Hz": [100.0, 0.0, 10.0], "Real Impedance / ohm": [1, 2, 3],
                          "Imaginary Impedance / ohm": [-1.0, -2.0, -3.0]})
    f, z = read_back(frame)
    np.testing.assert_allclose(f, [100.0, 10.0], rtol=1e-9)
    assert list(z) == [1 - 1j, 3 - 3j]
    text_frame = frame.assign(**{"Real Impedance / ohm": ["a", "b", "c"]})
    with pytest.raises(ValueError, match='^column "Real Impedance / ohm" is not numeric$'):
        ZERO_OHM.residuals([1.0], text_frame)


def test_polars_dataframe():
    pl = pytest.importorskip("polars")
    frame = pl.DataFrame({"frequency_hertz": [1.0, 2.0], "absolute_impedance_ohm": [1.0, 1.0],
                          "phase_degree": [0.0, 180.0]})
    assert read_back(frame)[1][0] == 1.0


# --- weighting names ---------------------------------------------------------

@pytest.mark.parametrize("weight, message", [
    ("Unit", 'unknown weight scheme "Unit", expected "modulus" or "unit"'),
    ("", 'unknown weight scheme "", expected "modulus" or "unit"'),
    ("modulus ", 'unknown weight scheme "modulus ", expected "modulus" or "unit"'),
    ('say "hi"', 'unknown weight scheme "say \\"hi\\"", expected "modulus" or "unit"'),
    ("unit\0", 'unknown weight scheme "unit\\0", expected "modulus" or "unit"'),
])
def test_unknown_weight_scheme(weight, message):
    with pytest.raises(ValueError) as info:
        ZERO_OHM.residuals([1.0], [1.0], [1.0], weight=weight)
    assert str(info.value) == message


def test_check_order_params_weight_type_spectrum_scheme():
    with pytest.raises(TypeError, match="params"):
        ZERO_OHM.residuals("x", "bad", None, weight=None)
    with pytest.raises(TypeError, match="weight"):
        ZERO_OHM.residuals([1.0], "bad", None, weight=None)
    with pytest.raises(TypeError, match="weight"):
        ZERO_OHM.residuals([1.0], [1.0], [1.0], weight=b"unit")
    with pytest.raises(TypeError, match="Sequence"):
        ZERO_OHM.residuals([1.0], "bad", [1.0], weight="nope")
    with pytest.raises(ValueError, match="unknown weight scheme"):
        ZERO_OHM.residuals([1.0], [1.0], [1.0], weight="nope")


class Abort(BaseException):
    """A BaseException that is not an Exception."""


class RaisingFrame:
    """A frame whose lookup of one column raises `error`."""

    def __init__(self, error, on_key="Frequency / Hz"):
        self.error = error
        self.on_key = on_key

    def __getitem__(self, key):
        if key == self.on_key:
            raise self.error
        raise KeyError(key)


class RaisingColumn:
    """A column whose conversion to numbers raises `error`."""

    def __init__(self, error):
        self.error = error

    def __len__(self):
        return 1

    def __getitem__(self, index):
        raise self.error


@pytest.mark.parametrize("error", [KeyboardInterrupt(), MemoryError(), SystemExit(3), GeneratorExit(), Abort()])
@pytest.mark.parametrize("call", [
    lambda frame: ZERO_OHM.residuals([1.0], frame),
    lambda frame: ZERO_OHM.impedance(frame),
    lambda frame: ZERO_OHM.fit(frame),
])
def test_fatal_errors_from_a_frame_propagate_unchanged(error, call):
    for frame in (RaisingFrame(error), {"Frequency / Hz": RaisingColumn(error)}):
        with pytest.raises(type(error)) as info:
            call(frame)
        assert info.value is error


def test_ordinary_lookup_errors_still_mean_missing_or_not_numeric():
    with pytest.raises(ValueError, match="^expected a dataframe with a "):
        ZERO_OHM.residuals([1.0], RaisingFrame(LookupError("gone")))
    with pytest.raises(ValueError, match='^column "Frequency / Hz" is not numeric$'):
        ZERO_OHM.residuals([1.0], {"Frequency / Hz": RaisingColumn(ArithmeticError("bad"))})


COMPLEX_FREQUENCIES = "frequencies must be real numbers (hertz), not complex: the frequencies come first and the " \
                      "impedances second"
SWEEP = np.logspace(0, 3, 8)
SWEEP_Z = vorlane.Circuit("R0-(R1,C1)").with_values([1.0, 10.0, 1e-3]).impedance(SWEEP)


@pytest.mark.parametrize("frequencies", [
    SWEEP_Z,                                    # the arguments swapped
    SWEEP_Z.astype(np.complex64),
    SWEEP_Z[::2],                               # a strided view, read item by item
    np.array([], dtype=complex),
    list(SWEEP_Z),                              # Python complex numbers
    [1.0, 2.0, 3.0 + 0j, 4.0, 5.0, 6.0, 7.0, 8.0],
    [np.complex64(f) for f in SWEEP],           # complex without imaginary part is still complex
    np.array(list(SWEEP_Z), dtype=object),
], ids=["complex128", "complex64", "strided", "empty", "list", "one complex item", "complex64 items", "object array"])
def test_complex_frequencies_are_refused_everywhere(frequencies):
    n = len(frequencies)
    circuit = vorlane.Circuit("R0-(R1,C1)").with_values([1.0, 10.0, 1e-3])
    calls = [
        lambda: circuit.fit(frequencies, SWEEP_Z[:n], guess_init=False),
        lambda: circuit.guess(frequencies, SWEEP_Z[:n]),
        lambda: circuit.residuals([1.0, 10.0, 1e-3], frequencies, SWEEP_Z[:n]),
        lambda: circuit.jacobian([1.0, 10.0, 1e-3], frequencies, SWEEP_Z[:n]),
        lambda: vorlane.kramers_kronig(frequencies, SWEEP_Z[:n]),
        lambda: vorlane._core._spectrum(frequencies, SWEEP_Z[:n]),
    ]
    for call in calls:
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value) == COMPLEX_FREQUENCIES
    with pytest.raises(TypeError) as info:
        circuit.fit_many([(frequencies, SWEEP_Z[:n])])
    assert str(info.value) == "spectrum 0: " + COMPLEX_FREQUENCIES
    with pytest.raises(TypeError, match=r"^frequencies must be real numbers \(hertz\), not complex$"):
        circuit.impedance(frequencies)


def test_a_complex_column_is_refused_and_real_numbers_of_any_type_are_read():
    pd = pytest.importorskip("pandas")
    frame = pd.DataFrame({"Frequency / Hz": SWEEP.astype(complex), "Real Impedance / ohm": SWEEP_Z.real,
                          "Imaginary Impedance / ohm": SWEEP_Z.imag})
    message = 'frequencies must be real numbers (hertz), not complex: the column "Frequency / Hz" holds complex values'
    for call in (lambda: ZERO_OHM.residuals([1.0], frame), lambda: ZERO_OHM.fit(frame, guess_init=False),
                 lambda: ZERO_OHM.impedance(frame), lambda: vorlane.kramers_kronig(frame)):
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value) == message
    # The real part alone of a complex impedance column is no measurement either.
    frame["Frequency / Hz"] = SWEEP
    frame["Real Impedance / ohm"] = SWEEP_Z
    with pytest.raises(TypeError, match='column "Real Impedance / ohm" holds complex values'):
        ZERO_OHM.residuals([1.0], frame)
    # Real frequencies of every numeric type, and real impedances, still read.
    mixed = [np.float32(1.0), np.int64(2), 3, 4.0, np.float16(5.0), True]
    f, z = read_back(mixed, SWEEP_Z.real[:6])
    np.testing.assert_allclose(f, [1.0, 2.0, 3.0, 4.0, 5.0, 1.0])
    assert list(z) == list(SWEEP_Z.real[:6])
    np.testing.assert_allclose(read_back(SWEEP.astype(np.float32), SWEEP_Z)[0], SWEEP.astype(np.float32), rtol=1e-12)
