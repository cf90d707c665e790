"""Fuzzer (atheris, libFuzzer options on the command line) for the
instrument-file readers: arbitrary bytes written to a file and read with
vorlane.read_spectrum, the format detected or named.

The first byte of an input chooses the format (detected, or one of
vorlane.readers.FORMATS) and the file's extension; the rest is the file.
Only the readers are instrumented for coverage. Every read must end in a
frame of finite numbers with at least one row, or in ValueError (a file
that is not a spectrum, named with its line); anything else, a crash or a
hang past -timeout is a finding."""

import atexit
import os
import shutil
import sys
import tempfile
import warnings

import atheris
import numpy as np
import pandas  # noqa: F401  (imported before the instrumented modules, so that it is not traced)

with atheris.instrument_imports(include=["vorlane.readers"]):
    import vorlane.readers

import vorlane

FORMATS = [None, *vorlane.readers.FORMATS]
EXTENSIONS = ["", ".csv", ".txt", ".DTA", ".mpt", ".z", ".par", ".dat"]
FOLDER = tempfile.mkdtemp(prefix="vorlane_reader_fuzz_")
atexit.register(shutil.rmtree, FOLDER, ignore_errors=True)


def test_one_input(data):
    if not data:
        return
    choice = data[0]
    format_name = FORMATS[choice % len(FORMATS)]
    path = os.path.join(FOLDER, "input" + EXTENSIONS[choice // len(FORMATS) % len(EXTENSIONS)])
    with open(path, "wb") as handle:
        handle.write(data[1:])
    try:
        frame = vorlane.read_spectrum(path, format=format_name)
    except ValueError as error:
        if not str(error).startswith(f"{path}, line ") and "unknown format" not in str(error):
            raise AssertionError(f"an error that names no line: {error}") from error
        return
    values = frame.to_numpy()
    if not len(frame) or values.dtype != np.float64 or not np.isfinite(values).all():
        raise AssertionError(f"a frame of {len(frame)} rows that is not all finite numbers:\n{frame}")


if __name__ == "__main__":
    warnings.simplefilter("ignore")
    atheris.Setup(sys.argv, test_one_input)
    atheris.Fuzz()
