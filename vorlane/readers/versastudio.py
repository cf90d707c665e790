"""VersaStudio .par files: XML-like sections; a <SegmentN> section holds a
"Definition=" line with the column names and comma-separated rows up to
</SegmentN>. A file holds one impedance segment."""

import re

from vorlane.readers.columns import has_spectrum, recognise
from vorlane.readers.source import Source
from vorlane.readers.table import Stop, read_table, split_cells

SIGNATURE = "<Application>"
_SEGMENT = re.compile(r"<Segment\d+>")
_SEGMENT_END = re.compile(r"\s*</Segment").match
_ROW_STARTS = tuple("0123456789+-.")


def _impedance_segments(source):
    """(0-based index of the Definition line, its column names) for every
    segment whose columns make a spectrum."""
    segments = []
    for index, line in enumerate(source.lines):
        if not _SEGMENT.fullmatch(line.strip()):
            continue
        definition = next((i for i in range(index + 1, min(index + 10, len(source.lines)))
                           if source.lines[i].startswith("Definition=")), None)
        if definition is None:
            raise source.error(index + 1, "a 'Definition=' line in the segment", "none")
        names = split_cells(source.lines[definition][len("Definition="):], ",")
        # The list ends in a number that names no column.
        if names and names[-1].isdigit():
            names.pop()
        if has_spectrum(recognise(names, source, definition + 1)):
            segments.append((definition, names))
    return segments


def read(source: Source):
    segments = _impedance_segments(source)
    if not segments:
        raise source.error(1, "a segment with frequency and impedance columns", f"none in {len(source.lines)} lines")
    if len(segments) > 1:
        raise source.error(segments[1][0] + 1, "one impedance segment per file", f"{len(segments)} segments")
    definition, names = segments[0]
    return read_table(source, names, definition + 1, definition + 1, ",", stop=Stop(_ROW_STARTS, _SEGMENT_END))
