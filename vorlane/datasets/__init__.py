"""Example spectra bundled with vorlane: measurements of physical test circuits
and of cells, and instrument files as the instruments' own software wrote
them. Every example and every page of the user guide uses them, so they run
from any folder:

    import vorlane
    print(vorlane.datasets.describe())                  # one line per dataset
    cell = vorlane.datasets.load("li_ion_cell")         # pandas DataFrame (needs pandas)
    f, z = vorlane.datasets.load_arrays("li_ion_cell")  # numpy arrays: Hz, complex ohm
    vorlane.datasets.path("instrument_gamry")           # the .DTA file as Gamry wrote it

names()           the dataset names: the converted spectra, then the instrument files
describe()        a table of them: name, points, frequency range, file, description
info(name)        one dataset's record (a `Dataset`), its instrument included
load(name)        the spectrum as `vorlane.read_spectrum` reads its file
load_arrays(name) frequencies (float64, Hz) and impedances (complex128, ohm)
path(name)        the bundled file (pathlib.Path)

The converted spectra ("dummy_cell_a_1", "li_ion_cell", ...) are CSV files with
the Battery Data Format columns; `load_arrays` reads them without pandas. The
instrument files ("instrument_gamry", "instrument_biologic", ...) are read by
`vorlane.read_spectrum`, which needs pandas. A name that is not a dataset
raises ValueError listing the valid ones.

The measurements come from the example data of an open-source impedance
toolkit, published under the MIT License; data/README.md and
data/instruments/README.md beside this module carry its notice.
"""

from __future__ import annotations

import difflib
from pathlib import Path
from typing import TYPE_CHECKING, List, Tuple

from vorlane.datasets._catalogue import CATALOGUE, DATA_FOLDER, Dataset

if TYPE_CHECKING:
    import numpy as np
    from numpy.typing import NDArray

    # Under a private name: where pandas' types are not followed, a public
    # `pandas` would count as a name this module exports.
    import pandas as _pandas

__all__ = ["Dataset", "names", "describe", "info", "load", "load_arrays", "path"]

# The columns of a spectrum frame that make the frequencies and impedances.
_SPECTRUM_COLUMNS = ("Frequency / Hz", "Real Impedance / ohm", "Imaginary Impedance / ohm")


def names(*, instrument_files: bool = True) -> List[str]:
    """The names of the bundled datasets: the spectra converted to the
    Battery Data Format columns, each a different measurement, then (unless
    `instrument_files` is False) the instrument files."""
    return [name for name, entry in CATALOGUE.items() if instrument_files or entry.instrument is None]


def info(name: str) -> Dataset:
    """The record of dataset `name`: description, points, frequency range,
    file, and the instrument that wrote it where known."""
    if not isinstance(name, str):
        raise TypeError(f"a dataset name is a str, got {type(name).__name__}")
    if name not in CATALOGUE:
        message = f'unknown dataset "{name}"'
        close = difflib.get_close_matches(name, CATALOGUE, n=1)
        if close:
            message += f' (did you mean "{close[0]}"?)'
        raise ValueError(message + "; the datasets are: " + ", ".join(CATALOGUE))
    return CATALOGUE[name]


def path(name: str) -> Path:
    """The bundled file of dataset `name`: a CSV file with the Battery Data
    Format columns, or an instrument file as the instrument wrote it."""
    return info(name).path


def describe() -> str:
    """A table of the bundled datasets, one line each: name, points,
    frequency range in hertz, file (under the data folder) and description."""
    entries = list(CATALOGUE.values())
    files = [entry.path.relative_to(DATA_FOLDER).as_posix() for entry in entries]
    name_width = max(len(entry.name) for entry in entries)
    file_width = max(len(file) for file in files)
    lines = [f"{'name':{name_width}}  points  {'frequencies / Hz':17}  {'file':{file_width}}  description"]
    for entry, file in zip(entries, files):
        frequencies = f"{entry.min_frequency:.3g} to {entry.max_frequency:.3g}"
        lines.append(f"{entry.name:{name_width}}  {entry.points:6d}  {frequencies:17}  {file:{file_width}}  "
                     f"{entry.description}")
    return "\n".join(lines)


def _read_frame(entry: Dataset, call: str) -> _pandas.DataFrame:
    try:
        import pandas  # noqa: F401
    except ImportError as error:
        raise ImportError(f'{call}({entry.name!r}) reads the file with vorlane.read_spectrum, which needs pandas: '
                          f'pip install "vorlane[pandas]"') from error
    from vorlane import read_spectrum

    return read_spectrum(entry.path)


def load(name: str) -> _pandas.DataFrame:
    """Dataset `name` as `vorlane.read_spectrum` reads its file: a pandas
    DataFrame (needs pandas) with the columns "Frequency / Hz", "Real
    Impedance / ohm" and "Imaginary Impedance / ohm" (and the time, voltage
    and current columns an instrument file holds), rows in measured order;
    `frame.attrs` holds the "source" path and the "format"."""
    return _read_frame(info(name), "load")


def load_arrays(name: str) -> Tuple[NDArray[np.float64], NDArray[np.complex128]]:
    """Dataset `name` as two new numpy arrays, in measured order: the
    frequencies in hertz (float64) and the complex impedances in ohm
    (complex128, negative imaginary parts for capacitive arcs). The converted
    spectra are read without pandas; the instrument files need it."""
    import numpy as np

    entry = info(name)
    if entry.instrument is None:
        # A converted spectrum: a header line, then frequency, real and imaginary part.
        table = np.loadtxt(entry.path, delimiter=",", skiprows=1, ndmin=2)
        return table[:, 0].copy(), table[:, 1] + 1j * table[:, 2]
    frame = _read_frame(entry, "load_arrays")
    frequency, real, imaginary = (frame[column].to_numpy(dtype=np.float64) for column in _SPECTRUM_COLUMNS)
    return frequency, real + 1j * imaginary
