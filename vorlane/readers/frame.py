"""The dataframe a reader returns: Battery Data Format column names, units
of ohm, hertz, second, volt and ampere."""

from vorlane._core import _from_modulus_and_phase
from vorlane.readers.columns import CURRENT, FREQUENCY, IMAGINARY, MODULUS, PHASE, REAL, TIME, VOLTAGE

FREQUENCY_COLUMN = "Frequency / Hz"
REAL_COLUMN = "Real Impedance / ohm"
IMAGINARY_COLUMN = "Imaginary Impedance / ohm"
_EXTRA_COLUMNS = {TIME: "Test Time / s", VOLTAGE: "Voltage / V", CURRENT: "Current / A"}


def _impedance_parts(values):
    if REAL in values and IMAGINARY in values:
        return values[REAL], values[IMAGINARY]
    # The core's sine and cosine, not the C library's, whose bits depend on
    # the processor.
    impedances = _from_modulus_and_phase(values[MODULUS], values[PHASE])
    return [z.real for z in impedances], [z.imag for z in impedances]


def spectrum_frame(values, source, format_name):
    """A pandas DataFrame of the measured rows in file order. Rows at zero
    frequency with zero impedance are not impedance measurements (some
    instruments log their DC steps in the same table) and are left out."""
    try:
        import pandas
    except ImportError as error:
        raise ImportError(
            "read_spectrum returns a pandas DataFrame: install pandas "
            "(pip install pandas, or the extra vorlane[pandas])"
        ) from error
    real, imaginary = _impedance_parts(values)
    keep = [i for i, f in enumerate(values[FREQUENCY]) if not (f == 0.0 and real[i] == 0.0 and imaginary[i] == 0.0)]
    if not keep:
        raise source.error(len(source.lines), "rows at a nonzero frequency", "only rows at zero frequency")
    columns = {
        FREQUENCY_COLUMN: [values[FREQUENCY][i] for i in keep],
        REAL_COLUMN: [real[i] for i in keep],
        IMAGINARY_COLUMN: [imaginary[i] for i in keep],
    }
    for quantity, name in _EXTRA_COLUMNS.items():
        if quantity in values:
            columns[name] = [values[quantity][i] for i in keep]
    frame = pandas.DataFrame(columns, dtype="float64")
    frame.attrs["source"] = source.path
    frame.attrs["format"] = format_name
    return frame
