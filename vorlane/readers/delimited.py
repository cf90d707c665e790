"""Delimited text tables with a header line: CSV and TSV exports, CH
Instruments, Parstat and Powersuite text exports, NOVA column exports. Any
lines before the header (an instrument's preamble) are skipped; a file
without a header whose first line holds three numbers is read as
frequency, real and imaginary impedance."""

from vorlane.readers.columns import has_spectrum, recognise, SPECTRUM_HEADERS
from vorlane.readers.source import Source
from vorlane.readers.table import read_table, split_cells

_BARE_HEADERS = ["Frequency / Hz", "Real Impedance / ohm", "Imaginary Impedance / ohm"]


def separator_of(line):
    """Tab, semicolon or comma, the first one the line holds; None for
    blank-separated columns."""
    for separator in ("\t", ";", ","):
        if separator in line:
            return separator
    return None


def _is_number_row(source, cells):
    try:
        for cell in cells:
            source.number(cell, 0, "")
    except ValueError:
        return False
    return bool(cells)


def find_header(source):
    """(header cells, 1-based header line, 0-based index of the first row,
    separator) for the first line that names a spectrum's columns. A line
    whose names carry a unit their quantity cannot have is not taken; if no
    header is found, the first such unit is what is reported."""
    first = True
    unit_error = None
    for index, line in enumerate(source.lines):
        if not line.strip():
            continue
        separator = separator_of(line)
        cells = split_cells(line, separator)
        if first and len(cells) == 3 and _is_number_row(source, cells):
            return list(_BARE_HEADERS), index + 1, index, separator
        first = False
        try:
            found = recognise(cells, source, index + 1)
        except ValueError as error:
            unit_error = unit_error or error
            continue
        if has_spectrum(found):
            return cells, index + 1, index + 1, separator
    raise unit_error or source.error(1, SPECTRUM_HEADERS, f"none in {len(source.lines)} lines")


def read(source: Source):
    headers, header_line, first_row, separator = find_header(source)
    decimal_comma = separator in ("\t", ";")
    return read_table(source, headers, header_line, first_row, separator, decimal_comma=decimal_comma)


def looks_like(source: Source):
    try:
        find_header(source)
    except ValueError:
        return False
    return True
