"""BioLogic EC-Lab text exports (.mpt): a header block whose second line
gives its length ("Nb header lines : 61"), the column names on its last
line, then tab-separated rows; exports without the header block start
with the column names. Decimal commas (some locales) are read."""

import re

from vorlane.readers.source import Source
from vorlane.readers.table import read_table

SIGNATURE = "EC-Lab ASCII FILE"
_HEADER_LINES = re.compile(r"Nb header lines\s*:\s*(\d+)\s*")


def read(source: Source):
    header_line = 1
    if source.lines[0].strip() == SIGNATURE:
        match = _HEADER_LINES.fullmatch(source.lines[1].strip()) if len(source.lines) > 1 else None
        if match is None:
            raise source.error(2, "'Nb header lines : <count>'", repr(source.lines[1]) if len(source.lines) > 1
                               else "the end of the file")
        header_line = int(match.group(1))
        if not 3 <= header_line <= len(source.lines):
            raise source.error(2, f"a header line count between 3 and {len(source.lines)}", str(header_line))
    headers = source.lines[header_line - 1].split("\t")
    return read_table(source, headers, header_line, header_line, "\t")
