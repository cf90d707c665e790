"""Instrument file readers: every bundled sample file, unit and sign
conversion, format detection, and files that are not spectra."""

import math
import os
import subprocess
import sys
import textwrap

import numpy as np
import pandas as pd
import pytest

import vorlane
from conftest import DATA_DIR, read_spectrum as read_bdf_csv

INSTRUMENT_DIR = DATA_DIR / "instruments"
BDF = ["Frequency / Hz", "Real Impedance / ohm", "Imaginary Impedance / ohm"]
TIME, VOLTAGE, CURRENT = "Test Time / s", "Voltage / V", "Current / A"

# file -> (detected format, rows, extra columns, first row and last row as
# written in the file: frequency, real, imaginary, then the extras in file
# units)
SAMPLES = {
    "exampleData.csv": ("csv", 66, [], (3.1623e-03, 4.94998977640506e-02, -2.043869854441892e-02),
                        (1e4, 1.577148266048593e-02, 1.015747456493824e-02)),
    "exampleDataAutolab.txt": ("autolab", 41, [TIME], (10000, 0.013785863964281, 0.007191946305823, 0),
                               (0.1, 0.0345697771923854, -0.00390292888845954, 0)),
    "exampleDataBioLogic.mpt": ("biologic", 43, [TIME, VOLTAGE, CURRENT],
                                (1.0003201e3, 6.5470886e1, -3.8998979e-1, 7.836904905780102e-1, -2.8677555e-4,
                                 -4.8041187e-2 * 1e-3),
                                (1.6895540e-2, 1.1097003e2, -2.3458567, 2.885022309564229e2, -2.8034937e-4,
                                 -4.5939464e-2 * 1e-3)),
    "exampleDataCHInstruments.txt": ("csv", 73, [], (9.961e4, 9.891e1, -2.748), (0.1, 5.685e3, -1.586e4)),
    "exampleDataGamry.DTA": ("gamry", 72, [TIME, VOLTAGE, CURRENT],
                             (200015.6, 825.8584, -1367.239, 1, -0.3413299, -5.89286e-6),
                             (0.0158898, 17007.49, -6635.557, 861, -0.3411888, -2.233894e-6)),
    "exampleDataParstat.txt": ("csv", 31, [TIME, VOLTAGE, CURRENT],
                               (10000, -0.00049816280376104, 0.0175143479976367, 7639.602, 3.50029397010803,
                                0.0245747901499271),
                               (10, 0.0270946491457229, -0.00399791080333837, 7750.166999, 3.50029397010803,
                                0.0245747901499271)),
    "exampleDataPowersuite.txt": ("csv", 30, [], (0.1, 423929.46, -49014.063), (2000000, -470.54113, -1397.7358)),
    "exampleDataVersaStudio.par": ("versastudio", 61, [TIME, VOLTAGE, CURRENT],
                                   (100000, 55.31571, 4.575431, 1.812, 0, -3.282372e-06),
                                   (0.02154435, 1516.313, -122.8279, 1575.401, 0, -3.282372e-06)),
    "exampleDataZPlot.z": ("zplot", 21, [TIME], (3e5, 1.4777e2, -1.1335e1, 2.67),
                           (3e3, 6.1368e2, -1.3713e2, 1.998e1)),
}

# Instrument files and the BDF CSV files of vorlane/datasets/data converted from
# them independently: the same numbers, row for row.
SAME_DATA = [
    ("exampleData.csv", "li_ion_cell.csv"),
    ("exampleDataGamry.DTA", "gamry_cell.csv"),
    ("exampleDataAutolab.txt", "autolab_cell.csv"),
    ("exampleDataZPlot.z", "dummy_cell_b_1.csv"),
]


def write(tmp_path, name, text, encoding="utf-8"):
    path = tmp_path / name
    path.write_bytes(text.encode(encoding) if isinstance(text, str) else text)
    return path


@pytest.mark.parametrize("name", sorted(SAMPLES))
def test_sample_files_read_as_written(name):
    fmt, rows, extras, first, last = SAMPLES[name]
    frame = vorlane.read_spectrum(INSTRUMENT_DIR / name)
    assert list(frame.columns) == BDF + extras
    assert all(dtype == np.float64 for dtype in frame.dtypes)
    assert len(frame) == rows
    assert frame.attrs == {"source": str(INSTRUMENT_DIR / name), "format": fmt}
    np.testing.assert_allclose(frame.iloc[0].to_numpy(), first, rtol=1e-15, atol=0)
    np.testing.assert_allclose(frame.iloc[-1].to_numpy(), last, rtol=1e-15, atol=0)
    assert np.all(np.isfinite(frame.to_numpy()))


@pytest.mark.parametrize("instrument_file, csv_file", SAME_DATA)
def test_instrument_files_match_their_independent_conversion(instrument_file, csv_file):
    frame = vorlane.read_spectrum(INSTRUMENT_DIR / instrument_file)
    expected = read_bdf_csv(csv_file)
    for column in BDF:
        assert frame[column].tolist() == expected.columns[column][: len(frame)]


@pytest.mark.parametrize("name", sorted(SAMPLES) + sorted(p.name for p in DATA_DIR.glob("*.csv")))
def test_every_file_reads_into_a_spectrum_that_fits_and_checks(name):
    path = INSTRUMENT_DIR / name if name in SAMPLES else DATA_DIR / name
    frame = vorlane.read_spectrum(path)
    result = vorlane.Circuit("R0-(R1,CPE1)").fit(frame)
    assert math.isfinite(result.cost)
    assert vorlane.kramers_kronig(frame).m >= 1


def test_aborted_gamry_run_reads_what_was_measured(tmp_path):
    lines = (INSTRUMENT_DIR / "exampleDataGamry.DTA").read_bytes().decode("latin-1").splitlines()
    table = lines.index("ZCURVE\tTABLE")
    aborted = lines[: table + 3 + 30] + ["EXPERIMENTABORTED\tTOGGLE\tT\tExperiment Aborted"]
    path = write(tmp_path, "aborted.DTA", "\n".join(aborted) + "\n", "latin-1")
    frame = vorlane.read_spectrum(path)
    full = vorlane.read_spectrum(INSTRUMENT_DIR / "exampleDataGamry.DTA")
    assert len(frame) == 30
    pd.testing.assert_frame_equal(frame, full.iloc[:30], check_like=False, check_exact=True)


@pytest.mark.parametrize(
    "header, row, expected",
    [
        # units and signs in the header
    ("Frequency (kHz);Z' (kOhm);-Z'' (mOhm)", "2;3;4", [2000.0, 3000.0, -0.004]),
    ("freq/mHz\tRe(Z)/MOhm\t-Im(Z)/Ohm", "5\t1\t-2", [0.005, 1e6, 2.0]),
    ("Freq/Hz, Z'/ohm, Z\"/ohm", "10, 1, -1", [10.0, 1.0, -1.0]),
    ("Frequency / Hz,Real Impedance / ohm,Imaginary Impedance / ohm", "1,2,-3", [1.0, 2.0, -3.0]),
    ("frequency_hertz,real_impedance_ohm,imaginary_impedance_ohm", "1,2,-3", [1.0, 2.0, -3.0]),
        # modulus and phase only
    ("Frequency (Hz)\t|Z| (Ohm)\tPhase (deg)", "1\t2\t-90", [1.0, 2 * math.cos(-math.pi / 2), -2.0]),
    ("Freq (Hz);Z (Ω);-Phase (°)", "1;2;90", [1.0, 2 * math.cos(-math.pi / 2), -2.0]),
        # decimal commas with semicolons, blank-separated columns
    ("Frequency (Hz);Zre (ohms);Zim (ohms)", "1,5;2,25;-3,0", [1.5, 2.25, -3.0]),
    ("Freq Zre Zim", "1e3   2.5  -0.5", [1000.0, 2.5, -0.5]),
    ],
)
def test_header_units_and_signs(tmp_path, header, row, expected):
    frame = vorlane.read_spectrum(write(tmp_path, "s.txt", f"{header}\n{row}\n"))
    np.testing.assert_allclose(frame[BDF].iloc[0].to_numpy(), expected, rtol=1e-15)


def test_extras_converted_to_seconds_volts_and_amperes(tmp_path):
    text = "Freq (Hz)\tZre (ohm)\tZim (ohm)\tTime (min)\tE (mV)\tI (uA)\n10\t1\t-1\t2\t500\t30\n"
    frame = vorlane.read_spectrum(write(tmp_path, "s.tsv", text))
    assert frame[[TIME, VOLTAGE, CURRENT]].iloc[0].tolist() == pytest.approx([120.0, 0.5, 3e-5], rel=1e-15)


def test_dc_rows_at_zero_frequency_are_left_out(tmp_path):
    text = "Frequency (Hz),Zre (ohms),Zim (ohms),Elapsed Time (s)\n0,0,0,1\n100,5,-1,2\n0,0,0,3\n10,6,-2,4\n"
    frame = vorlane.read_spectrum(write(tmp_path, "s.csv", text))
    assert frame[BDF[0]].tolist() == [100.0, 10.0]
    assert frame[TIME].tolist() == [2.0, 4.0]


def test_format_forced_and_refused(tmp_path):
    path = INSTRUMENT_DIR / "exampleDataParstat.txt"
    assert vorlane.read_spectrum(path, format="parstat").attrs["format"] == "parstat"
    with pytest.raises(ValueError, match=r"exampleDataParstat.txt, line 1: expected a ZCURVE TABLE section"):
        vorlane.read_spectrum(path, format="gamry")
    with pytest.raises(ValueError, match=r"unknown format 'Gamry', expected one of gamry, biologic, "):
        vorlane.read_spectrum(path, format="Gamry")
    with pytest.raises(FileNotFoundError):
        vorlane.read_spectrum(tmp_path / "missing.csv")


JUNK_TEXT = "ÿþ garbage ¤¤\nmore §§ garbage\n".encode("latin-1")


def _spaced_last_rows(data):
    """The last four rows with blanks instead of tabs between their first
    cells and 0.5-style numbers written as .5, as some Gamry files have them."""
    lines = data.split(b"\n")
    rows = [i for i, line in enumerate(lines) if line.startswith(b"\t") and line[1:2].isdigit()][-4:]
    for i in rows:
        cells = lines[i].split(b"\t")
        lines[i] = b"    " + b"  ".join(cells[1:4]) + b"\t" + b"\t".join(cells[4:])
    lines[rows[-1]] = lines[rows[-1]].replace(b"\t0.", b"\t.")
    return b"\n".join(lines)


def _without_comment_block(data):
    """A ZPlot file whose comment block is gone: settings lines follow
    "End Comments" before the data."""
    rows = data[data.index(b"End Comments") + len(b"End Comments\n"):]
    return b"ZPLOT2 ASCII\nEnd Comments\n  Date:          10-12-2018\n  Data Points:   21\n" + rows


# Files as instruments write them, which read to the same spectrum as the
# bundled sample: no row may be lost, no unneeded column may stop the reader.
VARIANTS = [
    ("exampleDataGamry.DTA", "spaced.DTA", _spaced_last_rows),
    # The phase unit's degree sign turned into a replacement character by a
    # conversion to UTF-8; the phase is not needed beside Zreal and Zimag.
    ("exampleDataGamry.DTA", "mangled_degree.DTA",
     lambda data: data.decode("latin-1").replace("\tohm\t\u00b0\t", "\tohm\t\ufffd\t").encode("utf-8")),
    ("exampleDataZPlot.z", "bare.z", _without_comment_block),
    # Exported in a European locale: decimal commas, semicolons where the
    # file had commas.
    ("exampleDataCHInstruments.txt", "european.txt", lambda data: data.replace(b",", b";").replace(b".", b",")),
    ("exampleDataPowersuite.txt", "european.txt", lambda data: data.replace(b".", b",")),
    ("exampleDataBioLogic.mpt", "european.mpt",
     lambda data: b"\n".join(line.replace(b".", b",") if line[:1].isdigit() else line for line in data.split(b"\n"))),
    ("exampleDataGamry.DTA", "european.DTA", lambda data: data.replace(b".", b",")),
    ("exampleDataZPlot.z", "european.z", lambda data: data.replace(b".", b",")),
    # Written again by an editor: UTF-8 with a byte-order mark, CR LF line ends.
    ("exampleDataBioLogic.mpt", "utf8.mpt",
     lambda data: b"\xef\xbb\xbf" + data.decode("latin-1").encode("utf-8").replace(b"\n", b"\r\n")),
]


@pytest.mark.parametrize("sample, name, change", VARIANTS)
def test_variants_of_instrument_files_read_every_row(tmp_path, sample, name, change):
    data = (INSTRUMENT_DIR / sample).read_bytes()
    changed = change(data)
    assert changed != data
    frame = vorlane.read_spectrum(write(tmp_path, name, changed))
    pd.testing.assert_frame_equal(frame[BDF], vorlane.read_spectrum(INSTRUMENT_DIR / sample)[BDF], check_exact=True)


def truncated(name, keep_fraction):
    """The file cut after a tab in the middle of a row."""
    data = (INSTRUMENT_DIR / name).read_bytes()
    row_start = data.index(b"\n", int(len(data) * keep_fraction)) + 1
    return data[: data.index(b"\t", row_start + 5) + 1]


NOT_SPECTRA = [
    ("empty.csv", b"", r"line 1: expected a measurement, found an empty file"),
    ("blank.csv", b"\n  \n\t\n", r"line 1: expected a measurement, found an empty file"),
    ("junk.bin", bytes(range(256)) * 4, r"line 1: expected a text file, found binary data"),
    ("junk.txt", JUNK_TEXT, r"line 1: expected a header naming"),
    ("junk.dat", JUNK_TEXT, r"line 1: expected a known spectrum file"),
    ("cut.DTA", truncated("exampleDataGamry.DTA", 0.9), r"line \d+: expected 11 columns, found \d+"),
    ("cut.mpt", truncated("exampleDataBioLogic.mpt", 0.8), r"line \d+: expected 18 columns, found \d+"),
    ("header_only.csv", b"Frequency / Hz,Real Impedance / ohm,Imaginary Impedance / ohm\n",
     r"line 2: expected rows of measured values, found the end of the table"),
    ("extra.csv", b"f (Hz),Zre,Zim\n1,2,3\n4,5,6,7\n", r"line 3: expected 3 columns, found 4 in '4,5,6,7'"),
    ("short.csv", b"f (Hz),Zre,Zim\n1,2,3\n4,5\n", r"line 3: expected 3 columns, found 2"),
    ("text.csv", b"freq,Zre,Zim\n1,2,3\n4,abc,6\n", r"line 3: expected a number for Zre, found 'abc'"),
    ("nan.csv", b"freq,Zre,Zim\n1,2,3\n4,NaN,6\n", r"line 3: expected a number for Zre, found 'NaN'"),
    ("inf.csv", b"freq,Zre,Zim\n1,2,inf\n", r"line 2: expected a number for Zim, found 'inf'"),
    ("empty_cell.csv", b"freq,Zre,Zim\n1,,3\n", r"line 2: expected a number for Zre, found ''"),
    ("unit.csv", b"Frequency (rpm),Zre,Zim\n1,2,3\n", r"line 1: expected a unit of Hz for 'Frequency \(rpm\)'"),
    ("no_imag.csv", b"Frequency (Hz),Zre\n1,2\n", r"line 1: expected a header naming frequency and real"),
    ("bad.mpt", b"EC-Lab ASCII FILE\nNb header lines : many\n", r"line 2: expected 'Nb header lines : <count>'"),
    ("long.mpt", b"EC-Lab ASCII FILE\nNb header lines : 99\n\n", r"line 2: expected a header line count"),
    ("none.z", b"ZPLOT2 ASCII\n  Data Points: 3\n", r"line 3: expected rows of measured values"),
    ("zero.csv", b"freq,Zre,Zim\n0,0,0\n", r"expected rows at a nonzero frequency"),
]


@pytest.mark.parametrize("name, content, message", NOT_SPECTRA, ids=[case[0] for case in NOT_SPECTRA])
def test_files_that_are_not_spectra(tmp_path, name, content, message):
    path = write(tmp_path, name, content)
    with pytest.raises(ValueError, match=message) as error:
        vorlane.read_spectrum(path)
    assert str(error.value).startswith(f"{path}, line ")


def test_versastudio_with_two_impedance_segments_is_refused(tmp_path):
    text = (INSTRUMENT_DIR / "exampleDataVersaStudio.par").read_text(encoding="utf-8")
    start, end = text.index("<Segment1>"), text.index("</Segment1>") + len("</Segment1>")
    segment = text[start:end]
    path = write(tmp_path, "two.par", text[:end] + "\n" + segment.replace("Segment1", "Segment2") + text[end:])
    with pytest.raises(ValueError, match=r"two.par, line \d+: expected one impedance segment per file, found 2"):
        vorlane.read_spectrum(path)


def run_python(code):
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                            timeout=120, cwd=os.path.dirname(__file__))
    assert result.returncode == 0, result.stderr
    return result.stdout


def test_missing_pandas_names_the_extra():
    out = run_python(
        f"""
        import sys
        sys.modules["pandas"] = None
        import vorlane
        try:
            vorlane.read_spectrum({str(INSTRUMENT_DIR / "exampleDataZPlot.z")!r})
        except ImportError as error:
            print(error)
        """
    )
    assert "install pandas (pip install pandas, or the extra vorlane[pandas])" in out
