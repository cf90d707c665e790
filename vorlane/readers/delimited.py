"""Delimited text tables with a header line: CSV and TSV exports, CH
Instruments, Parstat and Powersuite text exports, NOVA column exports. Any
lines before the header (an instrument's preamble) are skipped; a file
without a header whose first line holds three numbers is read as
frequency, real and imaginary impedance.

The header line's separator is the table's: a tab, else a semicolon, else
a comma, else runs of blanks. Where commas do not separate the columns a
comma in a number is its decimal mark, as European locales write it
("1,234E+03;5,6"); in a comma-separated table every comma separates."""

from vorlane.readers.columns import has_spectrum, recognise, SPECTRUM_HEADERS
from vorlane.readers.source import Source, is_number
from vorlane.readers.table import read_table, split_cells

_NUMBER_STARTS = tuple("0123456789+-.,")
_BARE_HEADERS = ["Frequency / Hz", "Real Impedance / ohm", "Imaginary Impedance / ohm"]


def separator_of(line):
    """Tab, semicolon or comma, the first one the line holds; None for
    blank-separated columns."""
    for separator in ("\t", ";", ","):
        if separator in line:
            return separator
    return None


def _bare_separator(line):
    """The first of tab, semicolon, comma and runs of blanks under which
    the line is three numbers (a headerless table), or False: "1, 2, 3" is
    comma-separated, "1,5 2,25 -3,0" blank-separated with decimal commas."""
    if line.lstrip()[:1] not in _NUMBER_STARTS:
        return False
    for separator in ("\t", ";", ",", None):
        if separator is not None and separator not in line:
            continue
        cells = split_cells(line, separator)
        if len(cells) == 3 and all(is_number(cell, separator != ",") for cell in cells):
            return separator
    return False


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
        if first:
            first = False
            bare = _bare_separator(line)
            if bare is not False:
                return list(_BARE_HEADERS), index + 1, index, bare
        separator = separator_of(line)
        cells = split_cells(line, separator)
        if len(cells) < 3:
            continue  # a spectrum has three columns at least
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
    return read_table(source, headers, header_line, first_row, separator)


def looks_like(source: Source):
    try:
        find_header(source)
    except ValueError:
        return False
    return True
