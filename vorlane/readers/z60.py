"""The fixed-column files of ZPlot (.z, data after "End Comments", tab
separated) and of the Autolab data-file export (a quoted header line after
the point count, comma separated): frequency, amplitude, bias, time, Z'
and Z'' (signed imaginary part), GD, error, range."""

from vorlane.readers.source import Source
from vorlane.readers.table import read_table

ZPLOT_SIGNATURE = "ZPLOT"
AUTOLAB_SIGNATURE = "Data File"
_HEADERS = ["Freq(Hz)", "Ampl", "Bias", "Time(Sec)", "Z'(a)", "Z''(b)", "GD", "Err", "Range"]


def read_zplot(source: Source):
    end = next((i for i, line in enumerate(source.lines) if line.strip() == "End Comments"), None)
    if end is None:
        raise source.error(1, "an 'End Comments' line before the data", f"none in {len(source.lines)} lines")
    return read_table(source, _HEADERS, end + 1, end + 1, "\t")


def read_autolab(source: Source):
    header = next((i for i, line in enumerate(source.lines) if line.lstrip().startswith('"') and "Freq" in line),
                  None)
    if header is None:
        raise source.error(1, 'a quoted column header line ("Freq (Hz) ...")', f"none in {len(source.lines)} lines")
    return read_table(source, _HEADERS, header + 1, header + 1, ",")
