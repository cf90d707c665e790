"""Shared fixtures: the real measured spectra bundled in vorlane/datasets/data, and
hostile objects for conversion tests."""

import csv
from pathlib import Path
from typing import NamedTuple

import numpy as np
import pytest

DATA_DIR = Path(__file__).resolve().parents[2] / "vorlane" / "datasets" / "data"
SPECTRUM_FILES = sorted(path.name for path in DATA_DIR.glob("*.csv"))


class MeasuredSpectrum(NamedTuple):
    name: str
    columns: dict  # column name -> list of floats, as in the file
    frequencies: np.ndarray
    impedances: np.ndarray


def read_spectrum(name):
    """One CSV file of vorlane/datasets/data, read with the csv module."""
    with open(DATA_DIR / name, newline="") as handle:
        rows = list(csv.DictReader(handle))
    columns = {key: [float(row[key]) for row in rows] for key in rows[0]}
    frequencies = np.array(columns["Frequency / Hz"])
    impedances = np.array(columns["Real Impedance / ohm"]) + 1j * np.array(columns["Imaginary Impedance / ohm"])
    return MeasuredSpectrum(name, columns, frequencies, impedances)


class BrokenFloat:
    """A number whose float conversion fails with its own exception."""

    def __float__(self):
        raise ArithmeticError("broken __float__")


class LyingLength:
    """A sequence that claims an enormous length but yields `count` items
    1.0, 2.0, ..."""

    def __init__(self, count):
        self.count = count

    def __len__(self):
        return 2**62

    def __getitem__(self, i):
        if i < self.count:
            return float(i + 1)
        raise IndexError


@pytest.fixture(params=SPECTRUM_FILES)
def measured_spectrum(request):
    """Every bundled spectrum in turn."""
    return read_spectrum(request.param)


@pytest.fixture
def dummy_cell_a():
    """A physical R-(R||C) test circuit; a fit gives about R0 = 29.1 ohm,
    R1 = 46.7 ohm, C1 = 1.04e-5 F."""
    return read_spectrum("dummy_cell_a_1.csv")


def pytest_configure(config):
    config.addinivalue_line("markers", "long_running: takes many seconds; started before the rest")


def pytest_collection_modifyitems(items):
    """Long-running tests start first, so that the parallel workers finish
    together instead of one of them starting a long test at the end."""
    items.sort(key=lambda item: item.get_closest_marker("long_running") is None)
