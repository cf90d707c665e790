"""Reading the rows of a measurement table into the recognised columns.

What a table holds: the rows from its first to its end; blank lines, and
rows whose cells are all empty, hold nothing. Every other row has a cell
under every header (empty cells after the last header are allowed: a
separator at the end of the line) and a plain number in each column of the
spectrum. Rows at zero frequency with zero impedance are not impedance
measurements (some instruments log their DC steps in the same table) and
are left out. The extra columns (time, voltage, current) are read for the
rows kept; an extra column with a cell that is not a number there is left
out. Where commas do not separate the cells, a comma in a number is its
decimal mark.

How it is read: first in bulk. The cells of the columns wanted are cut out
of the text at once: a table whose lines all hold the same number of
cells as one block (its line ends turned into separators, one split), any
other line by line; then the columns are converted together: a check
that the text is ASCII without underscores, one conversion by numpy, one
check that every number is finite (NaN, infinities and overflows are not).
Whatever the bulk way cannot vouch for (a cell that is not a number, a
number beyond the range of a float, a row of another length) is read
again row by row, which reads what can be read and otherwise names the
line and the cell at fault. Both ways give the same numbers: float() of
the same text."""

from itertools import islice, repeat
from operator import itemgetter
from typing import Callable, NamedTuple, Sequence

import numpy as np

from vorlane.readers.columns import EXTRAS, MODULUS, SPECTRUM_HEADERS, has_spectrum, read_order, recognise, unit_name

# Tables of fewer rows are converted at once; larger ones column by column,
# the rows at zero frequency and impedance left out before their extra
# columns are converted.
_FEW_ROWS = 100


class Stop(NamedTuple):
    """Where a table ends before the end of the file: at the first line,
    among those that start with none of `row_starts`, for which
    `ends_table(line)` is true."""
    row_starts: tuple
    ends_table: Callable


class Table(NamedTuple):
    quantities: tuple  # what each row of `values` holds, in the frame's order
    values: np.ndarray  # (quantity, row) float64, units converted and signs applied
    lines: Sequence[int]  # the 1-based line number of each row
    rows: int  # the rows read, those at zero frequency and impedance included


def split_cells(line, separator):
    """The cells of one line; None splits at runs of blanks. Trailing empty
    cells (a separator at the end of the line) are dropped."""
    cells = line.split() if separator is None else [cell.strip() for cell in line.split(separator)]
    while cells and cells[-1] == "":
        cells.pop()
    return cells


def read_table(source, headers, header_line, first_row, separator, stop=None):
    """The rows from line index `first_row` to the end of the file, or to
    the line where `stop` (a Stop) ends the table, as a Table (see the
    module's notes). `headers` and `header_line` (1-based, for messages)
    describe the columns; None as `separator` splits at runs of blanks."""
    while headers and headers[-1].strip() == "":
        headers = headers[:-1]
    columns = recognise(headers, source, header_line)
    if not has_spectrum(columns):
        raise source.error(header_line, SPECTRUM_HEADERS, repr(source.lines[header_line - 1]))
    wanted = [(quantity, columns[quantity]) for quantity in read_order(columns)]
    lines = source.lines
    end = len(lines)
    if stop is not None:
        end = _end(lines, first_row, stop)
    while end > first_row and not lines[end - 1].strip():
        end -= 1
    context = (source, headers, wanted, separator, separator != ",")
    cells = _cells_of_a_block(context, first_row, end) or _cells_by_line(context, first_row, end)
    table = _convert(context, *cells) if cells else None
    table = table or _row_by_row(context, first_row, end)
    if not len(table.lines):
        if table.rows:
            raise source.error(end, "rows at a nonzero frequency", "only rows at zero frequency")
        raise source.error(end + 1, "rows of measured values", "the end of the table")
    return table


def _end(lines, first_row, stop):
    """The index of the line where `stop` ends the table, or the number of
    lines."""
    rows = list(map(str.startswith, islice(lines, first_row, None), repeat(stop.row_starts)))
    index = 0
    while True:
        try:
            index = rows.index(False, index)
        except ValueError:
            return len(lines)
        if stop.ends_table(lines[first_row + index]):
            return first_row + index
        index += 1


def _cells_of_a_block(context, first_row, end):
    """(the cells of each column wanted, the line number of each row) of a
    table split as one block of text: where every line holds the same
    number of separators, the block with its line ends turned into
    separators splits into the same cells, row after row, as the lines one
    by one. None where lines differ (blank lines, say), or there are fewer
    cells than headers, or cells after the last header are not empty in
    every row."""
    source, headers, wanted, separator, _ = context
    lines = source.lines[first_row:end]
    n, rows = len(headers), len(lines)
    if separator is None:
        # Split at blanks, each line end a cell of its own (NUL, which no
        # text holds): n cells in every line put one after every n-th.
        cells = "\n".join(lines).replace("\n", " \0 ").split()
        if len(cells) != rows * (n + 1) - 1 or cells[n::n + 1].count("\0") != rows - 1:
            return None
        return [cells[column.index::n + 1] for _, column in wanted], range(first_row + 1, end + 1)
    counts = set(map(str.count, lines, repeat(separator)))
    if len(counts) != 1:
        return None
    m = counts.pop() + 1
    if m < n:
        return None
    cells = "\n".join(lines).replace("\n", separator).split(separator)
    if any(any(cells[i::m]) for i in range(n, m)):
        return None
    return [cells[column.index::m] for _, column in wanted], range(first_row + 1, end + 1)


def _cells_by_line(context, first_row, end):
    """(the cells of each column wanted, the line number of each row),
    each line split on its own; None where a line is neither blank nor a
    row of as many cells as there are headers (or of more, the last of
    them empty, in every row)."""
    source, headers, wanted, separator, _ = context
    block = source.lines[first_row:end]
    n = len(headers)
    rows = [line.split(separator) for line in block]
    lengths = set(map(len, rows))
    line_numbers = range(first_row + 1, end + 1)
    if lengths != {n}:
        if len(lengths) == 1 and separator is not None and min(lengths) > n:
            # A separator at the end of every row.
            if "".join("".join(row[n:]) for row in rows).strip():
                return None
        else:
            # Blank lines amid the rows.
            keep = [len(row) == n for row in rows]
            if any(not kept and line.strip() for kept, line in zip(keep, block)):
                return None
            rows = [row for row, kept in zip(rows, keep) if kept]
            line_numbers = [first_row + 1 + i for i, kept in enumerate(keep) if kept]
    if not rows:
        return None
    columns = list(zip(*rows))
    return [columns[column.index] for _, column in wanted], line_numbers


def _numbers(columns, factors, decimal_comma):
    """The numbers of the columns' cells times each column's factor, a
    (column, row) array, or None unless every cell is a plain number within
    range. What float() reads from ASCII text without underscores is a
    plain number, NaN or an infinity: the last two, and overflows, leave
    numbers that are not finite."""
    joined = "\n".join(map("\n".join, columns))
    if not joined.isascii() or "_" in joined:
        return None
    try:
        if decimal_comma and "," in joined:
            numbers = np.array(joined.replace(",", ".").split("\n"), dtype=np.float64).reshape(len(columns), -1)
        else:
            numbers = np.array(columns, dtype=np.float64)
    except ValueError:
        return None
    if any(factor != 1.0 for factor in factors):
        with np.errstate(over="ignore"):
            numbers *= np.array(factors)[:, None]
    if not np.isfinite(numbers).all():
        return None
    return numbers


def _numbers_by_text(cells, factor, decimal_comma):
    """The numbers of one column's cells, or None unless every cell is a
    plain number within range; each distinct text is converted once (a
    table that logs its DC steps among the measurements repeats them)."""
    texts = list(dict.fromkeys(cells))
    numbers = _numbers([texts], [factor], decimal_comma)
    if numbers is None:
        return None
    if len(texts) == len(cells):
        return numbers[0]
    return np.fromiter(_take(dict(zip(texts, numbers[0].tolist())), cells), np.float64, len(cells))


def _take(cells, rows):
    """The items of `cells` (a sequence or a dict) at `rows` (a list of
    indices or keys), as a sequence."""
    if len(rows) > 1:
        return itemgetter(*rows)(cells)
    return [cells[row] for row in rows]


def _convert(context, columns, line_numbers):
    """The Table of the cells of the columns wanted, or None where a cell
    of the spectrum must be read on its own."""
    source, _, wanted, _, decimal_comma = context
    quantities = [quantity for quantity, _ in wanted]
    factors = [column.factor for _, column in wanted]
    read = len(columns[0])
    if read < _FEW_ROWS:
        # All at once, where no row is at zero frequency.
        values = _numbers(columns, factors, decimal_comma)
        if values is not None and values[0].all():
            return Table(tuple(quantities), values, line_numbers, read)
    frequency = _numbers_by_text(columns[0], factors[0], decimal_comma)
    if frequency is None:
        return None
    rows = None
    if not frequency.all():
        # Rows at zero frequency and impedance are left out before the rest
        # of their cells is converted.
        zero = np.flatnonzero(frequency == 0.0)
        dc = np.ones(len(zero), dtype=bool)
        for i in (1, 2):
            numbers = _numbers_by_text(_take(columns[i], zero.tolist()), factors[i], decimal_comma)
            if numbers is None:
                return None
            at_zero = numbers == 0.0
            if i == 1 or quantities[1] != MODULUS:
                dc &= at_zero
        if dc.any():
            keep = np.ones(read, dtype=bool)
            keep[zero[dc]] = False
            rows = np.flatnonzero(keep)
            frequency = frequency[rows]
            rows = rows.tolist()
            columns = [_take(cells, rows) for cells in columns]
            line_numbers = [line_numbers[row] for row in rows]
    if len(columns[0]):
        values = _numbers(columns[1:], factors[1:], decimal_comma)
        if values is not None:
            return Table(tuple(quantities), np.concatenate((frequency[None], values)), line_numbers, read)
    # One extra column at a time: one that is not all numbers is left out.
    values = _numbers(columns[:3], factors[:3], decimal_comma)
    if values is None:
        return None
    kept = [0, 1, 2]
    for i in range(3, len(wanted)):
        numbers = _numbers(columns[i:i + 1], factors[i:i + 1], decimal_comma)
        if numbers is not None:
            values = np.concatenate((values, numbers))
            kept.append(i)
        elif _readable(source, columns[i], factors[i], decimal_comma):
            # Cells the bulk way does not vouch for: read one at a time.
            return None
    return Table(tuple(quantities[i] for i in kept), values, line_numbers, read)


def _readable(source, cells, factor, decimal_comma):
    """Whether every cell of an extra column is a number within range."""
    try:
        for cell in cells:
            source.number(cell, 0, "", decimal_comma, factor)
    except ValueError:
        return False
    return True


def _row_by_row(context, first_row, end):
    """The Table, read one row at a time; the first fault in a column of
    the spectrum raises its error, a fault in an extra column leaves that
    column out."""
    source, headers, wanted, separator, decimal_comma = context
    n = len(headers)
    spectrum, extras = wanted[:3], wanted[3:]
    modulus = spectrum[1][0] == MODULUS
    values = {quantity: [] for quantity, _ in wanted}
    line_numbers = []
    read = 0
    for index in range(first_row, end):
        line = source.lines[index]
        if not line.strip():
            continue
        cells = line.split() if separator is None else [cell.strip() for cell in line.split(separator)]
        if not any(cells):
            continue
        if len(cells) < n or any(cells[n:]):
            found = len(split_cells(line, separator))
            raise source.error(index + 1, f"{n} columns", f"{found} in {line.strip()!r}")
        numbers = [source.number(cells[column.index], index + 1, headers[column.index].strip(), decimal_comma,
                                 column.factor, unit_name(quantity)) for quantity, column in spectrum]
        read += 1
        if numbers[0] == 0.0 and numbers[1] == 0.0 and (modulus or numbers[2] == 0.0):
            continue
        line_numbers.append(index + 1)
        for (quantity, _), number in zip(spectrum, numbers):
            values[quantity].append(number)
        for quantity, column in extras:
            if quantity not in values:
                continue
            try:
                values[quantity].append(source.number(cells[column.index], index + 1, "", decimal_comma,
                                                      column.factor))
            except ValueError:
                del values[quantity]
    quantities = tuple(values)
    array = np.array([values[quantity] for quantity in quantities], dtype=np.float64).reshape(len(quantities), -1)
    return Table(quantities, array, line_numbers, read)
