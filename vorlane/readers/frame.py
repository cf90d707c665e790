"""The dataframe a reader returns: Battery Data Format column names, units
of ohm, hertz, second, volt and ampere."""

import numpy as np

from vorlane._core import _from_modulus_and_phase
from vorlane.readers.columns import CURRENT, MODULUS, TIME, VOLTAGE

FREQUENCY_COLUMN = "Frequency / Hz"
REAL_COLUMN = "Real Impedance / ohm"
IMAGINARY_COLUMN = "Imaginary Impedance / ohm"
_EXTRA_COLUMNS = {TIME: "Test Time / s", VOLTAGE: "Voltage / V", CURRENT: "Current / A"}

# The column labels of each set of columns a frame can have, built once
# (making them is most of the time a small frame takes); each frame gets
# its own view, so that renaming one frame's labels renames no other's.
_LABELS = {}


def _from_modulus_and_phase_rows(table, source):
    """The table's values with the modulus and phase rows turned into the
    real and imaginary parts."""
    values = table.values
    # The core's sine and cosine, not the C library's, whose bits depend on
    # the processor.
    try:
        impedances = np.array(_from_modulus_and_phase(values[1], values[2]), dtype=np.complex128)
        bad = np.flatnonzero(~np.isfinite(impedances))
    except ValueError:
        impedances, bad = None, [0]
    if len(bad):
        # Name the first row: every modulus and phase is a finite number here.
        for row, (modulus, phase) in enumerate(zip(values[1].tolist(), values[2].tolist())):
            try:
                impedance = _from_modulus_and_phase([modulus], [phase])[0]
            except ValueError:
                impedance = complex("nan")
            if not np.isfinite(impedance):
                raise source.error(table.lines[row], "a modulus and phase of a finite impedance",
                                   f"{modulus!r} ohm at {phase!r} deg")
        if impedances is None:
            raise source.error(table.lines[0], "moduli and phases of finite impedances", "none")
    values = values.copy()
    values[1], values[2] = impedances.real, impedances.imag
    return values


def spectrum_frame(table, source, format_name):
    """A pandas DataFrame of the table's rows in file order."""
    try:
        import pandas
    except ImportError as error:
        raise ImportError(
            "read_spectrum returns a pandas DataFrame: install pandas "
            "(pip install pandas, or the extra vorlane[pandas])"
        ) from error
    values = table.values
    if table.quantities[1] == MODULUS:
        values = _from_modulus_and_phase_rows(table, source)
    names = (FREQUENCY_COLUMN, REAL_COLUMN, IMAGINARY_COLUMN) + tuple(
        _EXTRA_COLUMNS[quantity] for quantity in table.quantities[3:])
    labels = _LABELS.get(names)
    if labels is None:
        labels = _LABELS[names] = pandas.Index(names)
    frame = pandas.DataFrame(values.T, columns=labels.view(), copy=False)
    frame.attrs["source"] = source.path
    frame.attrs["format"] = format_name
    return frame
