"""The fixed-column files of ZPlot (.z, tab separated data after "End
Comments", or after the settings of a file exported without its comment
block) and of the Autolab data-file export (a quoted header line after the
point count, comma separated): frequency, amplitude, bias, time, Z'
and Z'' (signed imaginary part), GD, error, range."""

from vorlane.readers.source import Source, is_number
from vorlane.readers.table import read_table

ZPLOT_SIGNATURE = "ZPLOT"
AUTOLAB_SIGNATURE = "Data File"
_HEADERS = ["Freq(Hz)", "Ampl", "Bias", "Time(Sec)", "Z'(a)", "Z''(b)", "GD", "Err", "Range"]


def read_zplot(source: Source):
    # The data follow "End Comments", or start the file where it has none.
    # Lines whose first cell is not a number (the signature, settings such
    # as "Date: ...") may stand before the first row; no row is passed
    # over. Decimal commas (some locales) are read.
    end = next((i for i, line in enumerate(source.lines) if line.strip() == "End Comments"), -1)
    first = next((i for i in range(end + 1, len(source.lines))
                  if source.lines[i].split() and is_number(source.lines[i].split("\t")[0], decimal_comma=True)),
                 len(source.lines))
    return read_table(source, _HEADERS, max(end + 1, 1), first, "\t")


def is_autolab_header(line):
    """Whether the line is the data file's quoted column header, which
    starts a file exported without its preamble."""
    line = line.strip()
    return line.startswith('"') and "Freq" in line and "Z''(b)" in line


def read_autolab(source: Source):
    header = next((i for i, line in enumerate(source.lines) if line.lstrip().startswith('"') and "Freq" in line),
                  None)
    if header is None:
        raise source.error(1, 'a quoted column header line ("Freq (Hz) ...")', f"none in {len(source.lines)} lines")
    return read_table(source, _HEADERS, header + 1, header + 1, ",")
