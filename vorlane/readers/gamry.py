"""Gamry Framework .DTA files: the ZCURVE table after the header block, a
row of names and a row of units, then one indented row per frequency, its
cells separated by tabs (or, in some files, partly by spaces). The table
ends where the next section starts: a line whose first word, at the start
of the line, is not a number. An aborted run ends its table early; what was
measured is read."""

from vorlane.readers.source import Source, is_number
from vorlane.readers.table import read_table, split_cells

SIGNATURE = "EXPLAIN"


def _with_units(names, units):
    """'Freq' and 'Hz' -> 'Freq (Hz)'; '#' marks a count without unit."""
    units = units + [""] * (len(names) - len(units))
    return [f"{name} ({unit})" if unit and unit != "#" else name for name, unit in zip(names, units)]


def read(source: Source):
    start = next((i for i, line in enumerate(source.lines) if split_cells(line, "\t")[:2] == ["ZCURVE", "TABLE"]),
                 None)
    if start is None:
        raise source.error(1, "a ZCURVE TABLE section", f"none in {len(source.lines)} lines")
    if start + 2 >= len(source.lines):
        raise source.error(start + 2, "the ZCURVE column names and units", "the end of the file")
    names = split_cells(source.lines[start + 1], "\t")
    units = split_cells(source.lines[start + 2], "\t")
    headers = _with_units(names, units)
    # The rows are split at any run of blanks, so the empty cell of their
    # indent is not a column.
    while headers and not headers[0]:
        headers = headers[1:]
    return read_table(source, headers, start + 2, start + 3, None, stop=_starts_a_section)


def _starts_a_section(line):
    cells = line.split()
    return bool(cells) and not line[:1].isspace() and not is_number(cells[0])
