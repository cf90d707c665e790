"""Recognising the columns of a measurement table by their header names,
and the unit each header states."""

import functools
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
    PHASE: {"deg": 1.0, "degree": 1.0, "degrees": 1.0, "\u00b0": 1.0, "\u00ba": 1.0, "rad": 57.29577951308232},
}
_BASE_UNITS[IMAGINARY] = _BASE_UNITS[MODULUS] = _BASE_UNITS[REAL]
_PREFIXES = {"G": 1e9, "M": 1e6, "k": 1e3, "K": 1e3, "m": 1e-3, "u": 1e-6, "\u00b5": 1e-6, "\u03bc": 1e-6, "n": 1e-9}
_RETURNED_UNITS = {FREQUENCY: "Hz", REAL: "ohm", IMAGINARY: "ohm", MODULUS: "ohm", PHASE: "deg", TIME: "s",
                   VOLTAGE: "V", CURRENT: "A"}
_UNIT_NAMES = {FREQUENCY: "Hz", REAL: "ohm", IMAGINARY: "ohm", MODULUS: "ohm", PHASE: "deg or rad",
               TIME: "s, min or h", VOLTAGE: "V", CURRENT: "A"}

_UNIT_CLOSERS = {")": "(", "]": "["}


class Column(NamedTuple):
    index: int  # position in the row
    factor: float  # multiplies the value in the file: unit and sign


def _split_name(header):
    """(quantity or None, unit or None, sign) of one header cell; the
    short cells that headers are made of are remembered."""
    return _split_short_name(header) if len(header) <= 100 else _split_any_name(header)


def _split_any_name(header):
    text = header.strip().strip('"').strip()
    sign = 1.0
    if text.startswith("-") and len(text) > 1:
        sign, text = -1.0, text[1:].strip()
    key = re.sub(r"\s+", "", text.lower())
    if key in _QUANTITY_OF_NAME:
        return _QUANTITY_OF_NAME[key], None, sign
    split = _name_and_unit(text)
    if split:
        key = re.sub(r"\s+", "", split[0].lower())
        unit = split[1].strip()
        # Z'(a) and Z''(b) label the axes of an impedance plot, not units.
        if key in ("z'", "z''") and unit in ("a", "b"):
            unit = ""
        if key in _QUANTITY_OF_NAME:
            return _QUANTITY_OF_NAME[key], unit, sign
    return None, None, sign


def _name_and_unit(text):
    """(name, unit) of "name / unit", "name (unit)" or "name [unit]" (the
    unit without slashes or brackets), or None."""
    text = text.rstrip()
    opener = _UNIT_CLOSERS.get(text[-1:])
    if opener:
        start = text.rfind(opener)
        unit = text[start + 1:-1]
        if start > 0 and not any(bracket in unit for bracket in ("()" if opener == "(" else "[]")):
            return text[:start], unit
        return None
    start = text.rfind("/")
    unit = text[start + 1:]
    if start > 0 and unit.strip() and not any(bracket in unit for bracket in "()[]"):
        return text[:start], unit
    return None


_split_short_name = functools.lru_cache(maxsize=1024)(_split_any_name)


def _readings(unit):
    """The unit as read, then as the bytes of a file read in the wrong
    encoding would have said it: UTF-8 read as Windows-1252 ("Î©" for Ω,
    "Â°" for °, "Âµ" for µ, in files that mix the two) and the DOS code
    page 437 of older instrument software (its Ω, µ and ° are Windows-1252's
    ê, æ and ø)."""
    yield unit
    for encoding in ("cp1252", "latin-1"):
        try:
            data = unit.encode(encoding)
            break
        except UnicodeEncodeError:
            continue
    else:
        return
    for encoding in ("utf-8", "cp437"):
        try:
            yield data.decode(encoding)
        except UnicodeDecodeError:
            continue


def unit_factor(quantity, unit):
    """The factor from `unit` to the quantity's returned unit, or None for a
    unit this quantity is never given in."""
    if not unit:
        return 1.0
    return _unit_factor(quantity, unit) if len(unit) <= 100 else _any_unit_factor(quantity, unit)


def _any_unit_factor(quantity, unit):
    bases = _BASE_UNITS[quantity]
    for reading in _readings(unit):
        if reading.lower() in bases:
            return bases[reading.lower()]
        prefix, base = reading[0], reading[1:].lower()
        if prefix in _PREFIXES and base in bases:
            return _PREFIXES[prefix] * bases[base]
    return None


_unit_factor = functools.lru_cache(maxsize=1024)(_any_unit_factor)


def unit_name(quantity):
    """The unit a quantity's column is returned in."""
    return _RETURNED_UNITS[quantity]


def recognise(headers, source, line_number):
    """Quantity -> Column for the headers that name one of the quantities;
    the first header of a quantity with a unit it can have wins. A column
    whose unit its quantity cannot have (a degree sign mangled by another
    encoding, say) is left out when the spectrum does not need it; when the
    spectrum needs it, that unit is the error."""
    headers = tuple(headers)
    if sum(map(len, headers)) <= 2000:
        found, error = _recognise_short(headers)
    else:
        found, error = _recognise(headers)
    if error is not None:
        raise source.error(line_number, *error)
    return dict(found)


def _recognise(headers):
    """(found, None) or (found, (expected, found) of the error)."""
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
                return found, (f"a unit of {_UNIT_NAMES[quantity]} for {header.strip()!r}", repr(unit))
    return found, None


# Instruments write the same header lines again and again.
_recognise_short = functools.lru_cache(maxsize=256)(_recognise)


def has_spectrum(found):
    """True when the columns give frequencies and complex impedances."""
    return FREQUENCY in found and ({REAL, IMAGINARY} <= found.keys() or {MODULUS, PHASE} <= found.keys())


EXTRAS = (TIME, VOLTAGE, CURRENT)


def read_order(found):
    """The quantities to read, in the order of the frame's columns: the
    spectrum's (frequency with the real and imaginary parts where the table
    has both, else with modulus and phase), then the extras it has. A
    table's other columns are not read."""
    if {REAL, IMAGINARY} <= found.keys():
        spectrum = (FREQUENCY, REAL, IMAGINARY)
    else:
        spectrum = (FREQUENCY, MODULUS, PHASE)
    return spectrum + tuple(quantity for quantity in EXTRAS if quantity in found)


SPECTRUM_HEADERS = "a header naming frequency and real and imaginary impedance (or modulus and phase) columns"
