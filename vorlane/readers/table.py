"""Reading the rows of a measurement table into the recognised columns."""

from vorlane.readers.columns import SPECTRUM_HEADERS, has_spectrum, recognise


def split_cells(line, separator):
    """The cells of one line; None splits at runs of blanks. Trailing empty
    cells (a separator at the end of the line) are dropped."""
    cells = line.split() if separator is None else [cell.strip() for cell in line.split(separator)]
    while cells and cells[-1] == "":
        cells.pop()
    return cells


def read_table(source, headers, header_line, first_row, separator, stop=None, decimal_comma=False):
    """Quantity -> list of values (units converted, signs applied) for the
    rows from line index `first_row` to the end of the file or to the first
    line for which stop(line) is true. `headers` and `header_line` (1-based,
    for messages) describe the columns. Blank lines are skipped; every other
    row must have as many cells as there are headers and a number in each
    recognised column."""
    while headers and headers[-1].strip() == "":
        headers = headers[:-1]
    columns = recognise(headers, source, header_line)
    if not has_spectrum(columns):
        raise source.error(header_line, SPECTRUM_HEADERS, repr(source.lines[header_line - 1]))
    values = {quantity: [] for quantity in columns}
    index = first_row
    while index < len(source.lines):
        line = source.lines[index]
        if stop is not None and stop(line):
            break
        index += 1
        if not line.strip():
            continue
        cells = split_cells(line, separator)
        if len(cells) != len(headers):
            raise source.error(index, f"{len(headers)} columns", f"{len(cells)} in {line.strip()!r}")
        for quantity, column in columns.items():
            number = source.number(cells[column.index], index, headers[column.index].strip(), decimal_comma)
            values[quantity].append(number * column.factor)
    if not values[next(iter(values))]:
        raise source.error(index + 1, "rows of measured values", "the end of the table")
    return values
