"""Recognising the columns of a measurement table by their header names,
and the unit each header states."""

import re
from typing import NamedTuple

FREQUENCY = "frequency"
REAL = "real"
IMAGINARY = "imaginary"
MODULUS = "modulus"
PHASE = "phase"
TIME = "time"
VOLTAGE = "voltage"
CURRENT = "current"

# Header names, lower case without blanks, of each quantity. Names that
# instruments use for other things (|Ewe|, E2, Z2 Real, Re(Y), ...) are
# left out on purpose.
_NAMES = {
    FREQUENCY: {"f", "freq", "frequency", "frequency_hertz"},
    REAL: {"z'", "zre", "zreal", "re(z)", "realimpedance", "real_impedance_ohm", "zr", "re", "real"},
    IMAGINARY: {"z''", 'z"', "zim", "zimag", "zimg", "im(z)", "imaginaryimpedance",
                "imaginary_impedance_ohm", "zi", "im", "imag", "imaginary"},
    MODULUS: {"z", "|z|", "zmod", "modulus", "absoluteimpedance", "absolute_impedance_ohm"},
    PHASE: {"phase", "phase(z)", "zphz", "phaseangle", "phase_degree"},
    TIME: {"time", "testtime", "elapsedtime", "test_time_second", "elapsed_time_second"},
    VOLTAGE: {"<ewe>", "ewe", "e", "potential", "vdc", "voltage", "voltage_volt", "ecell"},
    CURRENT: {"<i>", "i", "current", "idc", "current_ampere"},
}
_QUANTITY_OF_NAME = {name: quantity for quantity, names in _NAMES.items() for name in names}

# Base units (lower case: the ohm sign and capital omega become small
# omega) and the factor to the unit of the returned column.
_BASE_UNITS = {
    FREQUENCY: {"hz": 1.0, "hertz": 1.0},
    REAL: {"ohm": 1.0, "ohms": 1.0, "\u03c9": 1.0},
    TIME: {"s": 1.0, "sec": 1.0, "second": 1.0, "seconds": 1.0, "min": 60.0, "h": 3600.0},
    VOLTAGE: {"v": 1.0, "volt": 1.0, "volts": 1.0},
    CURRENT: {"a": 1.0, "amp": 1.0, "ampere": 1.0, "amps": 1.0},
    PHASE: {"deg": 1.0, "degree": 1.0, "degrees": 1.0, "\u00b0": 1.0, "rad": 57.29577951308232},
}
_BASE_UNITS[IMAGINARY] = _BASE_UNITS[MODULUS] = _BASE_UNITS[REAL]
_PREFIXES = {"G": 1e9, "M": 1e6, "k": 1e3, "m": 1e-3, "u": 1e-6, "\u00b5": 1e-6, "\u03bc": 1e-6, "n": 1e-9}
_UNIT_NAMES = {FREQUENCY: "Hz", REAL: "ohm", IMAGINARY: "ohm", MODULUS: "ohm", PHASE: "deg or rad",
               TIME: "s, min or h", VOLTAGE: "V", CURRENT: "A"}

# "name / unit", "name (unit)" or a bare name; the snake_case convention
# ("frequency_hertz") carries its unit in the name.
_WITH_UNIT = re.compile(r"(.+?)\s*(?:/\s*([^/()]+?)|\(([^()]*)\))\s*$")


class Column(NamedTuple):
    index: int  # position in the row
    factor: float  # multiplies the value in the file: unit and sign


def _split_name(header):
    text = header.strip().strip('"').strip()
    sign = 1.0
    if text.startswith("-") and len(text) > 1:
        sign, text = -1.0, text[1:].strip()
    key = re.sub(r"\s+", "", text.lower())
    if key in _QUANTITY_OF_NAME:
        return _QUANTITY_OF_NAME[key], None, sign
    match = _WITH_UNIT.fullmatch(text)
    if match:
        key = re.sub(r"\s+", "", match.group(1).lower())
        unit = (match.group(2) or match.group(3) or "").strip()
        # Z'(a) and Z''(b) label the axes of an impedance plot, not units.
        if key in ("z'", "z''") and unit in ("a", "b"):
            unit = ""
        if key in _QUANTITY_OF_NAME:
            return _QUANTITY_OF_NAME[key], unit, sign
    return None, None, sign


def unit_factor(quantity, unit):
    """The factor from `unit` to the quantity's returned unit, or None for a
    unit this quantity is never given in."""
    if not unit:
        return 1.0
    bases = _BASE_UNITS[quantity]
    if unit.lower() in bases:
        return bases[unit.lower()]
    prefix, base = unit[0], unit[1:].lower()
    if prefix in _PREFIXES and base in bases:
        return _PREFIXES[prefix] * bases[base]
    return None


def recognise(headers, source, line_number):
    """Quantity -> Column for the headers that name one of the quantities;
    the first header of a quantity with a unit it can have wins. A column
    whose unit its quantity cannot have (a degree sign mangled by another
    encoding, say) is left out when the spectrum does not need it; when the
    spectrum needs it, that unit is the error."""
    found = {}
    unusable = {}
    for index, header in enumerate(headers):
        quantity, unit, sign = _split_name(header)
        if quantity is None or quantity in found:
            continue
        factor = unit_factor(quantity, unit)
        if factor is None:
            unusable.setdefault(quantity, (header, unit))
            continue
        found[quantity] = Column(index, sign * factor)
    if not has_spectrum(found) and has_spectrum({**found, **unusable}):
        # The first column the spectrum cannot do without.
        for quantity, (header, unit) in unusable.items():
            others = {key: value for key, value in unusable.items() if key != quantity}
            if not has_spectrum({**found, **others}):
                raise source.error(line_number, f"a unit of {_UNIT_NAMES[quantity]} for {header.strip()!r}",
                                   repr(unit))
    return found


def has_spectrum(found):
    """True when the columns give frequencies and complex impedances."""
    return FREQUENCY in found and ({REAL, IMAGINARY} <= found.keys() or {MODULUS, PHASE} <= found.keys())


SPECTRUM_HEADERS = "a header naming frequency and real and imaginary impedance (or modulus and phase) columns"
