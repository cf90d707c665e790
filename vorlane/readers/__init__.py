"""Instrument file readers: one measurement file in, one spectrum out as a
pandas DataFrame with the Battery Data Format column names."""

import os

from vorlane.readers import biologic, delimited, gamry, versastudio, z60
from vorlane.readers.frame import spectrum_frame
from vorlane.readers.source import Source


def _read_autolab(source):
    """The data-file layout (with or without its preamble), or a column
    export (NOVA) as a delimited table."""
    first = source.first_line()
    if z60.AUTOLAB_SIGNATURE in first or z60.is_autolab_header(first):
        return z60.read_autolab(source)
    return delimited.read(source)


# Format name -> reader. The delimited-table reader serves every text
# table with a header line, under each of the names users know it by.
READERS = {
    "gamry": gamry.read,
    "biologic": biologic.read,
    "zplot": z60.read_zplot,
    "autolab": _read_autolab,
    "versastudio": versastudio.read,
    "chi": delimited.read,
    "parstat": delimited.read,
    "powersuite": delimited.read,
    "csv": delimited.read,
}
FORMATS = tuple(READERS)

_EXTENSIONS = {".dta": "gamry", ".mpt": "biologic", ".z": "zplot", ".par": "versastudio", ".csv": "csv",
               ".tsv": "csv", ".txt": "csv"}


def _detect(source):
    """The format from the first line's signature, else from the extension,
    else the delimited-table reader when it finds a header."""
    first = source.first_line().strip()
    signatures = [
        (gamry.SIGNATURE, "gamry"),
        (biologic.SIGNATURE, "biologic"),
        (versastudio.SIGNATURE, "versastudio"),
    ]
    for signature, name in signatures:
        if first == signature:
            return name
    if first.startswith(z60.ZPLOT_SIGNATURE):
        return "zplot"
    if z60.AUTOLAB_SIGNATURE in first or z60.is_autolab_header(first):
        return "autolab"
    if first.startswith(gamry.TABLE_SIGNATURE) and first.split()[:2] == ["ZCURVE", "TABLE"]:
        return "gamry"
    extension = os.path.splitext(source.path)[1].lower()
    if extension in _EXTENSIONS:
        return _EXTENSIONS[extension]
    if delimited.looks_like(source):
        return "csv"
    raise source.error(
        1,
        "a known spectrum file: a table with a header naming frequency and impedance columns, or a "
        "Gamry, BioLogic, ZPlot, Autolab or VersaStudio file (pass format= to choose one of "
        + ", ".join(FORMATS) + ")",
        repr(source.first_line()[:80]),
    )


def read_spectrum(path, format=None):
    """See vorlane.read_spectrum."""
    if format is not None and format not in READERS:
        raise ValueError(f"unknown format {format!r}, expected one of {', '.join(FORMATS)} or None")
    source = Source(path)
    name = format or _detect(source)
    return spectrum_frame(READERS[name](source), source, name)
