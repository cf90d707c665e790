"""What each bundled spectrum is: its file under data/, where it comes from,
and its points and frequency range (as read by vorlane.read_spectrum)."""

from __future__ import annotations

from pathlib import Path
from typing import NamedTuple, Optional

DATA_FOLDER = Path(__file__).resolve().parent / "data"


class Dataset(NamedTuple):
    """One bundled spectrum."""

    name: str
    """What `load`, `load_arrays` and `path` take."""
    description: str
    """One line: what was measured, and what is known of it."""
    points: int
    """Measured frequencies."""
    min_frequency: float
    """Lowest measured frequency in hertz."""
    max_frequency: float
    """Highest measured frequency in hertz."""
    path: Path
    """The bundled file."""
    instrument: Optional[str]
    """The instrument software that wrote the file, for the instrument files;
    None for the spectra converted to the Battery Data Format columns."""
    same_measurement_as: Optional[str]
    """The dataset holding the same measured points (all of them, or the
    first ones), or None."""


def _entry(name: str, file: str, points: int, frequency_range: tuple[float, float], description: str,
           instrument: Optional[str] = None, same_measurement_as: Optional[str] = None) -> Dataset:
    return Dataset(name, description, points, *frequency_range, DATA_FOLDER / file, instrument, same_measurement_as)


CATALOGUE = {entry.name: entry for entry in [
    # Spectra converted to CSV with the Battery Data Format columns (data/README.md).
    _entry("dummy_cell_a_1", "dummy_cell_a_1.csv", 48, (1.0, 5e4),
           "R-(R||C) test circuit a, first sweep: R0 ~ 29.1 ohm, R1 ~ 46.7 ohm, C1 ~ 1.04e-5 F; "
           "slightly inductive above 30 kHz"),
    _entry("dummy_cell_a_2", "dummy_cell_a_2.csv", 48, (1.0, 5e4), "R-(R||C) test circuit a, second sweep"),
    _entry("dummy_cell_b_1", "dummy_cell_b_1.csv", 56, (1.0, 3e5),
           "R-(R||C) test circuit b, first sweep: R0 ~ 150 ohm, R1 ~ 502 ohm, C1 ~ 3.12e-8 F",
           same_measurement_as="instrument_zplot"),
    _entry("dummy_cell_b_2", "dummy_cell_b_2.csv", 56, (1.0, 3e5), "R-(R||C) test circuit b, second sweep"),
    _entry("dummy_cell_c_1", "dummy_cell_c_1.csv", 53, (1.0, 1.5e5),
           "R-(R||C) test circuit c, first sweep: R0 ~ 1510 ohm, R1 ~ 4630 ohm, C1 ~ 2.02e-8 F"),
    _entry("dummy_cell_c_2", "dummy_cell_c_2.csv", 53, (1.0, 1.5e5), "R-(R||C) test circuit c, second sweep"),
    _entry("li_ion_cell", "li_ion_cell.csv", 66, (3.1623e-3, 1e4),
           "a lithium-ion cell: two arcs and a diffusion tail, an R0-(R1,CPE1)-(R2-Wo2,CPE2) kind of spectrum",
           same_measurement_as="instrument_csv"),
    _entry("gamry_cell", "gamry_cell.csv", 72, (0.0158898, 200015.6),
           "a cell with a large capacitive arc; no reference fit", same_measurement_as="instrument_gamry"),
    _entry("autolab_cell", "autolab_cell.csv", 41, (0.1, 1e4),
           "a low-impedance cell (milliohms), inductive at high frequency; no reference fit",
           same_measurement_as="instrument_autolab"),
    # Files as the instruments' own software wrote them (data/instruments/README.md).
    _entry("instrument_autolab", "instruments/exampleDataAutolab.txt", 41, (0.1, 1e4),
           "Metrohm Autolab (NOVA) text export", "Metrohm Autolab (NOVA)", "autolab_cell"),
    _entry("instrument_biologic", "instruments/exampleDataBioLogic.mpt", 43, (0.01689554, 1000.3201),
           "BioLogic EC-Lab text export (.mpt): header block, then tab-separated columns", "BioLogic EC-Lab"),
    _entry("instrument_chi", "instruments/exampleDataCHInstruments.txt", 73, (0.1, 99610.0),
           "CH Instruments text export", "CH Instruments"),
    _entry("instrument_csv", "instruments/exampleData.csv", 66, (3.1623e-3, 1e4),
           "a generic CSV export without a header: frequency, real and imaginary part", "a generic export",
           "li_ion_cell"),
    _entry("instrument_gamry", "instruments/exampleDataGamry.DTA", 72, (0.0158898, 200015.6),
           "Gamry Framework file (.DTA): a ZCURVE table after the header", "Gamry Framework", "gamry_cell"),
    _entry("instrument_parstat", "instruments/exampleDataParstat.txt", 31, (10.0, 1e4),
           "Parstat (VersaStudio) text export", "Parstat (VersaStudio)"),
    _entry("instrument_powersuite", "instruments/exampleDataPowersuite.txt", 30, (0.1, 2e6),
           "Solartron Powersuite text export, tab-separated", "Solartron Powersuite"),
    _entry("instrument_versastudio", "instruments/exampleDataVersaStudio.par", 61, (0.02154435, 1e5),
           "VersaStudio file (.par): XML-like sections with a data segment", "VersaStudio"),
    _entry("instrument_zplot", "instruments/exampleDataZPlot.z", 21, (3e3, 3e5),
           "ZPlot/ZView file (.z): the first 21 points of dummy_cell_b_1", "ZPlot/ZView", "dummy_cell_b_1"),
]}
