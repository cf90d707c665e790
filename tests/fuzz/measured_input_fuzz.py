"""Fuzzer (atheris, libFuzzer options on the command line) for measured
spectra arriving from Python: two sequences or a dataframe of any shape,
with hostile items, fed to impedance, residuals, guess, a short fit and the
Kramers-Kronig check (and the dropping of its outliers).

Only this harness and the Python layers are instrumented for coverage;
the compiled core is exercised but not traced. Every call must end in a result or in one of the errors the API documents
(ValueError, TypeError, OverflowError, or what a hostile item raised
itself); anything else, or a crash, is a finding."""

import math
import sys
import warnings

import atheris

with atheris.instrument_imports():
    import numpy as np

    import vorlane

CIRCUIT = vorlane.Circuit("R0-(R1,C1)")
COLUMN_NAMES = ["Frequency / Hz", "frequency_hertz", "Real Impedance / ohm", "real_impedance_ohm",
                "Imaginary Impedance / ohm", "imaginary_impedance_ohm", "Absolute Impedance / ohm",
                "absolute_impedance_ohm", "Phase / deg", "phase_degree", "frequency", ""]
SPECIAL = [0.0, -0.0, 1.0, -1.0, math.inf, -math.inf, math.nan, 1e308, 5e-324, 1e-300]


class HostileError(Exception):
    """Raised by the fuzzer's own hostile items."""


class Hostile:
    """An item whose every conversion fails."""

    def __float__(self):
        raise HostileError

    def __complex__(self):
        raise HostileError

    def __index__(self):
        raise HostileError


class Liar:
    """A sequence that lies about its length."""

    def __init__(self, items, length):
        self.items, self.length = items, length

    def __len__(self):
        return self.length

    def __getitem__(self, i):
        return self.items[i]


@atheris.instrument_func
def number(fdp):
    kind = fdp.ConsumeIntInRange(0, 7)
    if kind == 0:
        return fdp.PickValueInList(SPECIAL)
    if kind == 1:
        return fdp.ConsumeRegularFloat()
    if kind == 2:
        return complex(fdp.ConsumeRegularFloat(), fdp.ConsumeRegularFloat())
    if kind == 3:
        return fdp.ConsumeInt(9)
    if kind == 4:
        return np.float32(fdp.ConsumeRegularFloat())
    if kind == 5:
        return fdp.ConsumeUnicodeNoSurrogates(4)
    if kind == 6:
        return Hostile()
    return None


@atheris.instrument_func
def sequence(fdp):
    items = [number(fdp) for _ in range(fdp.ConsumeIntInRange(0, 12))]
    kind = fdp.ConsumeIntInRange(0, 6)
    if kind == 0:
        return items
    if kind == 1:
        return tuple(items)
    if kind == 2:
        return np.array([fdp.ConsumeRegularFloat() for _ in items], dtype=np.float64)
    if kind == 3:
        return np.array([complex(fdp.ConsumeRegularFloat(), fdp.ConsumeRegularFloat()) for _ in items])
    if kind == 4:
        return np.array(items, dtype=object)[::-1]
    if kind == 5:
        return Liar(items, fdp.ConsumeIntInRange(-2, 2**62))
    return fdp.ConsumeRegularFloat()


@atheris.instrument_func
def frame(fdp):
    return {fdp.PickValueInList(COLUMN_NAMES): sequence(fdp) for _ in range(fdp.ConsumeIntInRange(0, 6))}


@atheris.instrument_func
def call(fdp):
    two_sequences = fdp.ConsumeBool()
    first = sequence(fdp) if two_sequences else frame(fdp)
    second = sequence(fdp) if two_sequences else None
    target = fdp.ConsumeIntInRange(0, 4)
    if target == 0:
        CIRCUIT.impedance(first)
    elif target == 1:
        CIRCUIT.residuals([fdp.ConsumeRegularFloat() for _ in range(3)], first, second,
                          weight=fdp.PickValueInList(["modulus", "unit"]))
    elif target == 2:
        CIRCUIT.guess(first, second)
    elif target == 3:
        CIRCUIT.fit(first, second, guess_init=fdp.ConsumeBool(), max_iterations=fdp.ConsumeIntInRange(0, 3))
    else:
        options = {"m": fdp.PickValueInList([None, 1, 2, 5]), "method": fdp.PickValueInList(["noise", "mu"]),
                   "part": fdp.PickValueInList(["complex", "real", "imaginary"]),
                   "capacitance": fdp.PickValueInList([None, True, False]),
                   "inductance": fdp.PickValueInList([None, True, False])}
        check = vorlane.kramers_kronig(first, second, **options)
        vorlane.drop_outliers(check, first, second)


def test_one_input(data):
    try:
        call(atheris.FuzzedDataProvider(data))
    except (ValueError, TypeError, OverflowError, HostileError):
        pass


if __name__ == "__main__":
    warnings.simplefilter("ignore")
    atheris.Setup(sys.argv, test_one_input)
    atheris.Fuzz()
