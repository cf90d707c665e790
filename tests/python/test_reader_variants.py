"""Files as instrument software writes them, each made by the test itself:
8-bit and mixed encodings, exports without their comment or metadata
blocks, aborted runs, decimal commas with semicolon, tab or blank
separators, columns the reader does not need, numbers beyond the range of
a float; and the bulk reading of a table against reading it row by row."""

import math
import random
import time

import numpy as np
import pandas as pd
import pytest

import vorlane
from vorlane.readers import table

BDF = ["Frequency / Hz", "Real Impedance / ohm", "Imaginary Impedance / ohm"]
TIME, VOLTAGE, CURRENT = "Test Time / s", "Voltage / V", "Current / A"


def write(tmp_path, name, data):
    path = tmp_path / name
    path.write_bytes(data.encode("utf-8") if isinstance(data, str) else data)
    return path


def read(tmp_path, name, data, **options):
    return vorlane.read_spectrum(write(tmp_path, name, data), **options)


# A small potentiostatic sweep, as Gamry Framework writes it.
GAMRY_ROWS = [(0, 1.0, 1000.0, 10.0, -1.0), (1, 2.5, 100.0, 11.0, -2.5), (2, 4.0, 10.0, 13.0, -4.0)]


def gamry(rows=GAMRY_ROWS, header=True, table_line=True, after=(), decimal_comma=False):
    lines = ["EXPLAIN", "TAG\tEISPOT", "TITLE\tLABEL\tPotentiostatic EIS\tTest &Identifier"] if header else []
    lines += ["ZCURVE\tTABLE"] if table_line else []
    lines += ["\tPt\tTime\tFreq\tZreal\tZimag\tZphz", "\t#\ts\tHz\tohm\tohm\t\u00b0"]
    for point, time, frequency, real, imaginary in rows:
        cells = [str(point), repr(time), repr(frequency), repr(real), repr(imaginary), "-5.7"]
        if decimal_comma:
            cells = [cell.replace(".", ",") for cell in cells]
        lines.append("\t" + "\t".join(cells))
    return ("\r\n".join(lines + list(after)) + "\r\n").encode("latin-1")


def values(frame, columns=BDF):
    return frame[columns].to_numpy().tolist()


ENCODED = [
    # Latin-1 (and Windows-1252): the degree and micro signs as single bytes.
    ("latin1.txt", "Freq/Hz\t|Z|/Ohm\tPhase/\u00b0\tI/\u00b5A\n10\t2\t-90\t5\n".encode("latin-1"), [10, 0, -2, 5e-6]),
    ("cp1252.csv", "\u2013 run 7\nFreq (Hz);Z (kOhm);Phase (\u00b0)\n10;2;-90\n".encode("cp1252"), [10, 0, -2000]),
    ("utf8.txt", "Freq/Hz\tRe(Z)/k\u03a9\t-Im(Z)/m\u2126\tI/\u03bcA\n10\t2\t3\t5\n".encode("utf-8"),
     [10, 2000, -0.003, 5e-6]),
    ("bom.csv", "\ufefffrequency_hertz,real_impedance_ohm,imaginary_impedance_ohm\n10,2,-3\n".encode("utf-8"),
     [10, 2, -3]),
    ("utf16.txt", "Freq (Hz)\tZ' (k\u03a9)\tZ'' (\u03a9)\n10\t2\t-3\n".encode("utf-16"), [10, 2000, -3]),
    # A header typed in UTF-8 in a file the instrument wrote in Latin-1: not
    # valid UTF-8, so the ohm signs arrive as "Î©".
    ("mixed.txt", "Operator: J\u00fcrgen\n".encode("latin-1") + "Freq/Hz\tZre/k\u03a9\tZim/\u03a9\tE/V\n10\t2\t-3\t1\n"
     .encode("utf-8"), [10, 2000, -3, 1]),
    # The DOS code page of older instruments: its ohm and degree signs.
    ("dos.txt", b"Freq (Hz)\t|Z| (k\xea)\tPhase (\xf8)\n10\t2\t-90\n", [10, 0, -2000]),
]


@pytest.mark.parametrize("name, data, expected", ENCODED, ids=[case[0] for case in ENCODED])
def test_encodings_and_unit_signs(tmp_path, name, data, expected):
    frame = read(tmp_path, name, data)
    np.testing.assert_allclose(frame.iloc[0].to_numpy(), expected, rtol=1e-15, atol=1e-12)


def test_a_file_not_utf8_reads_whatever_its_bytes(tmp_path):
    # Windows-1252 bytes (an en dash, a euro sign) in a comment; the Latin-1
    # micro sign in a unit; a byte Windows-1252 leaves undefined (0x81).
    data = b"\x96 run \x80 \x81\nFreq (Hz)\tZre (ohm)\tZim (ohm)\tI (\xb5A)\n1\t2\t-3\t4\n"
    frame = read(tmp_path, "comment.txt", data)
    assert values(frame, BDF + [CURRENT]) == [[1.0, 2.0, -3.0, 4e-6]]
    with pytest.raises(ValueError, match=r"line 3: expected a number for Zre \(ohm\), found '\u00b5'"):
        read(tmp_path, "bad.txt", data.replace(b"\t2\t", b"\t\xb5\t"))


@pytest.mark.parametrize("variant", ["full", "without header block", "without ZCURVE line", "decimal commas"])
def test_gamry_exports(tmp_path, variant):
    data = {
        "full": gamry(),
        "without header block": gamry(header=False),
        "without ZCURVE line": gamry(header=False, table_line=False),
        "decimal commas": gamry(decimal_comma=True),
    }[variant]
    frame = read(tmp_path, "sweep.DTA", data)
    assert values(frame, BDF + [TIME]) == [[f, re, im, t] for _, t, f, re, im in GAMRY_ROWS]
    assert frame.attrs["format"] == "gamry"


@pytest.mark.parametrize("after", [(), ("",), ("EXPERIMENTABORTED\tTOGGLE\tT\tExperiment Aborted",),
                                   ("EXPERIMENTABORTED\tTOGGLE\tT\tExperiment Aborted", "", "\x1a")])
def test_aborted_gamry_run_reads_every_row_written(tmp_path, after):
    frame = read(tmp_path, "aborted.DTA", gamry(GAMRY_ROWS[:2], after=after))
    assert values(frame) == [[f, re, im] for _, _, f, re, im in GAMRY_ROWS[:2]]


def test_gamry_refuses_a_second_table_and_a_cut_row(tmp_path):
    twice = gamry() + gamry(header=False)
    with pytest.raises(ValueError, match=r"line 10: expected one ZCURVE table per file, found 2 tables"):
        read(tmp_path, "twice.DTA", twice)
    with pytest.raises(ValueError, match=r"line 9: expected 6 columns, found 4 in "):
        read(tmp_path, "cut.DTA", gamry()[:-15])


ZPLOT_ROWS = ("3.0E+05\t1.0E-02\t0\t2.67\t147.77\t-11.335\t0\t0\t3\n"
              "2.4E+05\t1.0E-02\t0\t3.37\t148.93\t-17.302\t0\t0\t3\n")


@pytest.mark.parametrize("name, data, expected", [
    # A ZPlot file of data alone: its first row was once passed over.
    ("bare.z", ZPLOT_ROWS, [[3e5, 147.77, -11.335, 2.67], [2.4e5, 148.93, -17.302, 3.37]]),
    ("settings.z", "ZPLOT2 ASCII\n  Date:   10-12-2018\n" + ZPLOT_ROWS.replace(".", ","),
     [[3e5, 147.77, -11.335, 2.67], [2.4e5, 148.93, -17.302, 3.37]]),
    ("nova.txt", "\"  Freq (Hz)    Ampl     Bias   Time(Sec)   Z'(a)    Z''(b)    GD   Err   Range\"\r\n"
     "10000,0,0,0,0.0137,0.0071,0,0,0\r\n1000,0,0,1,0.0145,-0.0013,0,0,0\r\n",
     [[1e4, 0.0137, 0.0071, 0.0], [1e3, 0.0145, -0.0013, 1.0]]),
    ("bare.mpt", "freq/Hz\tRe(Z)/Ohm\t-Im(Z)/Ohm\ttime/s\n1,0E+03\t5,0\t0,5\t1\n", [[1e3, 5.0, -0.5, 1.0]]),
])
def test_exports_without_their_comment_or_metadata_blocks(tmp_path, name, data, expected):
    frame = read(tmp_path, name, data)
    assert values(frame, BDF + [TIME]) == expected


@pytest.mark.parametrize("text, expected", [
    ("Frequency (Hz);Zre (Ohm);Zim (Ohm)\n1,234E+03;5,6;-0,25\n", [1234.0, 5.6, -0.25]),
    ("Frequency (Hz)\tZre (Ohm)\tZim (Ohm)\n1,234E+03\t5,6\t-0,25\n", [1234.0, 5.6, -0.25]),
    ("Freq Zre Zim\n1,234E+03  5,6  -0,25\n", [1234.0, 5.6, -0.25]),
    ("1,234E+03;5,6;-0,25\n", [1234.0, 5.6, -0.25]),
    ("1,234E+03\t5,6\t-0,25\n", [1234.0, 5.6, -0.25]),
    ("1,234E+03 5,6 -0,25\n", [1234.0, 5.6, -0.25]),
    # Commas that separate: the decimal mark is the point.
    ("Frequency (Hz),Zre (Ohm),Zim (Ohm)\n1.234E+03,5.6,-0.25\n", [1234.0, 5.6, -0.25]),
    ("1.234E+03, 5.6, -0.25\n", [1234.0, 5.6, -0.25]),
])
def test_decimal_commas_and_separators(tmp_path, text, expected):
    assert values(read(tmp_path, "table.txt", text)) == [expected]


@pytest.mark.parametrize("text, message", [
    ("f;Zre;Zim\n1;1.234,5;2\n", r"line 2: expected a number for Zre, found '1.234,5'"),
    ("f,Zre,Zim\n1,2,5,6\n", r"line 2: expected 3 columns, found 4"),
])
def test_numbers_a_separator_makes_ambiguous_are_refused(tmp_path, text, message):
    with pytest.raises(ValueError, match=message):
        read(tmp_path, "table.txt", text)


def test_columns_the_spectrum_does_not_need_never_stop_the_reader(tmp_path):
    text = ("Time (hh:mm:ss)\tE (V)\tFreq (Hz)\tZre (ohm)\tZim (ohm)\t|Z| (ohm)\tPhase (\ufffd)\tI (mA)\tNote\n"
            "00:00:01\t1\t100\t2\t-3\tn/a\tbad\t\t\n"
            "00:00:02\tx\t10\t4\t-5\t\t\t2\tlast\n")
    frame = read(tmp_path, "extras.txt", text)
    # The time's unit and the voltage's cells cannot be read; the current
    # has an empty cell: all three are left out, the spectrum is read.
    assert list(frame.columns) == BDF
    assert values(frame) == [[100.0, 2.0, -3.0], [10.0, 4.0, -5.0]]
    with pytest.raises(ValueError, match=r"line 3: expected a number for Zre \(ohm\), found 'x'"):
        read(tmp_path, "needed.txt", text.replace("\t4\t", "\tx\t"))


def test_rows_are_read_or_named(tmp_path):
    text = "freq,Zre,Zim,Time (s)\r\r\n0,0,0,1\r\r\n0,2,-1,2\r\r\n\r\r\n100,3,-2,3,\r\r\n,,,\r\r\n10,4,-3,4\x1a"
    frame = read(tmp_path, "rows.csv", text)
    # Only the row at zero frequency with zero impedance is left out.
    assert values(frame, BDF + [TIME]) == [[0.0, 2.0, -1.0, 2.0], [100.0, 3.0, -2.0, 3.0], [10.0, 4.0, -3.0, 4.0]]
    # CR CR LF ends one line: the line numbers are an editor's.
    with pytest.raises(ValueError, match=r"rows.csv, line 7: expected 4 columns, found 2 in '10,4'"):
        read(tmp_path, "rows.csv", text.replace("10,4,-3,4", "10,4"))


OVERFLOWS = [
    ("freq,Zre,Zim\n1,2,-3\n1e999,2,-3\n", r"line 3: expected a number for freq no larger in magnitude than 1.8e308, "
     r"found '1e999'"),
    ("freq,Zre,Zim\n1,2,-1e309\n", r"line 2: expected a number for Zim no larger in magnitude than 1.8e308, "
     r"found '-1e309'"),
    ("Frequency (kHz),Zre,Zim\n1,2,-3\n1e306,2,-3\n", r"line 3: expected a number for Frequency \(kHz\) no larger "
     r"in magnitude than 1.8e308 in Hz, found '1e306'"),
    ("Freq (Hz)\t|Z| (Ohm)\tPhase (deg)\n1\t2\t1e400\n", r"line 2: expected a number for Phase \(deg\) no larger "
     r"in magnitude than 1.8e308, found '1e400'"),
    ("Freq (Hz)\t|Z| (Ohm)\tPhase (rad)\n1\t2\t1e307\n", r"line 2: expected a number for Phase \(rad\) no larger "
     r"in magnitude than 1.8e308 in deg, found '1e307'"),
]


@pytest.mark.parametrize("text, message", OVERFLOWS)
def test_numbers_beyond_a_float_name_file_and_line(tmp_path, text, message):
    path = write(tmp_path, "overflow.txt", text)
    with pytest.raises(ValueError, match=message) as error:
        vorlane.read_spectrum(path)
    assert str(error.value).startswith(f"{path}, line ")


def test_a_huge_finite_phase_still_gives_a_finite_impedance(tmp_path):
    frame = read(tmp_path, "phase.txt", "Freq (Hz)\t|Z| (Ohm)\tPhase (deg)\tTime (s)\n1\t2\t1e300\t1e999\n")
    assert list(frame.columns) == BDF and np.isfinite(frame.to_numpy()).all()
    assert math.hypot(*frame.iloc[0, 1:3]) == pytest.approx(2.0, rel=1e-12)


CELLS = ["1", "2.5", "-3", "0", "-0", "1e3", "1,5", ".5", "5.", "+.5e+2", "", " ", " 4 ", "abc", "nan", "inf", "1e999",
         "1e306", "1_0", "1 2", "\u0663", "1\x0c", "1.2.3", "--1", "0x10", "1e"]
HEADERS = [["Freq (Hz)", "Zre (ohm)", "Zim (ohm)"], ["Frequency (kHz)", "Z' (kOhm)", "-Z'' (mOhm)", "Time (s)"],
           ["f", "|Z|", "Phase (deg)", "E (V)", "I (mA)"], ["E (V)", "freq", "Zre", "Zim", "x", "Time (min)"]]


def test_bulk_reading_gives_what_reading_row_by_row_gives(tmp_path, monkeypatch):
    """Random tables (bad cells, blank lines, rows of other lengths, zero
    frequency rows, separators at the ends of rows), read in bulk and row by
    row: the same frame or the same error."""
    rng = random.Random(7)

    def table_text():
        separator = rng.choice(["\t", ";", ",", " "])
        headers = rng.choice(HEADERS)
        bad, odd = rng.choice([0, 0.005, 0.05]), rng.choice([0, 0.02])
        lines = [separator.join(headers)]
        for _ in range(rng.choice([1, 3, 40, 150])):
            width = len(headers) + (rng.choice([-1, 1]) if rng.random() < odd else 0)
            cells = [rng.choice(CELLS) if rng.random() < bad else rng.choice(["%.6g" % rng.uniform(-99, 99), "0"])
                     for _ in range(width)]
            line = "" if rng.random() < odd else separator.join(cells) + (separator if rng.random() < odd else "")
            lines.append(line)
        return "\n".join(lines) + "\n"

    def outcome(path):
        try:
            frame = vorlane.read_spectrum(path, format="csv")
        except ValueError as error:
            return str(error)
        return list(frame.columns), frame.to_numpy().tobytes()

    outcomes = []
    for case in range(150):
        path = write(tmp_path, f"{case}.txt", table_text())
        bulk = outcome(path)
        with monkeypatch.context() as patch:
            patch.setattr(table, "_cells_of_a_block", lambda *args: None)
            patch.setattr(table, "_cells_by_line", lambda *args: None)
            assert outcome(path) == bulk, path.read_text()
        outcomes.append(isinstance(bulk, tuple))
    # Both kinds of outcome are exercised.
    assert 20 < sum(outcomes) < 130


@pytest.mark.parametrize("name, text", [
    ("digits.csv", "freq,Zre,Zim\n" + "1" * 50000 + "x,2,3\n"),
    ("digits.DTA", "EXPLAIN\nZCURVE\tTABLE\n\tFreq\tZreal\tZimag\n\tHz\tohm\tohm\n\t1\t2\t3\n" + "1" * 50000 + "x\n"),
    ("blanks.csv", "f" + " " * 50000 + "x,Zre,Zim\n1,2,3\n"),
    ("tables.DTA", "EXPLAIN\n" + "ZCURVE\tTABLE\n" * 10**5),
])
def test_hostile_lines_are_read_in_one_pass(tmp_path, name, text):
    # Quadratic matching of these lines took hours; one pass takes a blink.
    start = time.perf_counter()
    try:
        read(tmp_path, name, text)
    except ValueError:
        pass
    assert time.perf_counter() - start < 10
