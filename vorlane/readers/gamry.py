"""Gamry Framework .DTA files: the ZCURVE table after the header block, a
row of names and a row of units, then one indented row per frequency, its
cells separated by tabs (or, in some files, partly by spaces). The table
ends where the next section starts: a line whose first word, at the start
of the line, is not a number. An aborted run ends its table early, with or
without a section after it; what was measured is read. A file exported
without its header block, or without the ZCURVE line itself, is read from
its first row of names and units that name a spectrum. Decimal commas (some
locales) are read."""

import re

from vorlane.readers.columns import has_spectrum, recognise
from vorlane.readers.source import Source
from vorlane.readers.table import Stop, read_table, split_cells

SIGNATURE = "EXPLAIN"
TABLE_SIGNATURE = "ZCURVE"


def _with_units(names, units):
    """'Freq' and 'Hz' -> 'Freq (Hz)'; '#' marks a count without unit."""
    units = units + [""] * (len(names) - len(units))
    return [f"{name} ({unit})" if unit and unit != "#" else name for name, unit in zip(names, units)]


def _headers(source, names_index):
    names = split_cells(source.lines[names_index], "\t")
    units = split_cells(source.lines[names_index + 1], "\t")
    headers = _with_units(names, units)
    # The rows are split at any run of blanks, so the empty cell of their
    # indent is not a column.
    while headers and not headers[0]:
        headers = headers[1:]
    return headers


def _bare_table(source):
    """The index of the names row of a table exported without its ZCURVE
    line: the first line whose names, with the units below them, make a
    spectrum."""
    for index in range(len(source.lines) - 1):
        if "\t" not in source.lines[index]:
            continue
        try:
            found = recognise(_headers(source, index), source, index + 1)
        except ValueError:
            continue
        if has_spectrum(found):
            return index
    raise source.error(1, "a ZCURVE TABLE section", f"none in {len(source.lines)} lines")


def _tables(source):
    """The indices of the lines that start a ZCURVE table."""
    tables = []
    text = source.text
    index = counted = 0
    position = text.find(TABLE_SIGNATURE)
    while position >= 0:
        if position == 0 or text[position - 1] == "\n":
            index += text.count("\n", counted, position)
            counted = position
            if split_cells(source.lines[index], "\t")[:2] == ["ZCURVE", "TABLE"]:
                tables.append(index)
        position = text.find(TABLE_SIGNATURE, position + 1)
    return tables


def read(source: Source):
    tables = _tables(source)
    if len(tables) > 1:
        raise source.error(tables[1] + 1, "one ZCURVE table per file", f"{len(tables)} tables")
    names_index = tables[0] + 1 if tables else _bare_table(source)
    if names_index + 1 >= len(source.lines):
        raise source.error(names_index + 1, "the ZCURVE column names and units", "the end of the file")
    return read_table(source, _headers(source, names_index), names_index + 2, names_index + 2, None,
                      stop=Stop((" ", "\t"), _starts_a_section))


# A line that starts a section: a word at the start of the line that is
# not a number (with a point or a comma as its decimal mark). No two parts
# of the number can match the same digits (one pass over a long word).
_starts_a_section = re.compile(r"(?![+-]?(?:[0-9]+(?:[.,][0-9]*)?|[.,][0-9]+)(?:[eE][+-]?[0-9]+)?(?:\s|$))\S").match
