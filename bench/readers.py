"""vorlane's instrument-file readers against impedance.py's, in the same process.

For every instrument file in the shared data folder (or the copies bundled
with vorlane, where that folder is missing) and for a generated table of
10^5 lines (frequency, real, imaginary; comma-separated, no header, the
layout impedance.py's readCSV reads), the median wall time of
`vorlane.read_spectrum(path)` (format detection and the pandas frame
included) and of impedance.py's reader for that instrument
(impedance.preprocessing.readGamry, readZPlot, ...), the two called in
turn, at least 21 times each and for at least 0.3 s. The ratio is vorlane's
time over impedance.py's: below 1, vorlane is faster.

Run: python bench/readers.py   (needs impedance, pandas and vorlane)
"""

import os
import statistics
import sys
import tempfile
import time
import warnings

from pathlib import Path

import numpy as np

import vorlane

# bench/impedance.py (vorlane's own benchmark) would shadow the peer package:
# this folder leaves the module search path before the peer is imported.
HERE = Path(__file__).resolve().parent
sys.path[:] = [entry for entry in sys.path if Path(entry or ".").resolve() != HERE]
try:
    from impedance import preprocessing
except ImportError:
    sys.exit("bench/readers.py needs impedance.py: pip install impedance")

SHARED = os.path.join(HERE, "..", "..", "shared", "data", "instruments")
BUNDLED = os.path.join(os.path.dirname(vorlane.__file__), "datasets", "data", "instruments")
FOLDER = os.environ.get("VORLANE_INSTRUMENT_FILES") or (SHARED if os.path.isdir(SHARED) else BUNDLED)

PEER_READERS = {
    "exampleDataGamry.DTA": preprocessing.readGamry,
    "exampleDataZPlot.z": preprocessing.readZPlot,
    "exampleDataVersaStudio.par": preprocessing.readVersaStudio,
    "exampleDataBioLogic.mpt": preprocessing.readBioLogic,
    "exampleDataAutolab.txt": preprocessing.readAutolab,
    "exampleDataCHInstruments.txt": preprocessing.readCHInstruments,
    "exampleDataPowersuite.txt": preprocessing.readPowerSuite,
    "exampleDataParstat.txt": preprocessing.readParstat,
    "exampleData.csv": preprocessing.readCSV,
}
LARGE_LINES = 100_000


def write_large_table(folder):
    rng = np.random.default_rng(0)
    frequency = np.logspace(6, -2, LARGE_LINES)
    real = 10 + 100 / (1 + (frequency / 50) ** 2)
    imaginary = -100 * (frequency / 50) / (1 + (frequency / 50) ** 2) + rng.normal(0, 0.01, LARGE_LINES)
    path = os.path.join(folder, "large.csv")
    np.savetxt(path, np.column_stack([frequency, real, imaginary]), delimiter=",", fmt="%.15e")
    return path


def medians(calls, minimum_calls=21, minimum_seconds=0.3):
    """The median time in seconds of each call, the calls made in turn."""
    times = [[] for _ in calls]
    start = time.perf_counter()
    while len(times[0]) < minimum_calls or time.perf_counter() - start < minimum_seconds:
        for call, record in zip(calls, times):
            begin = time.perf_counter()
            call()
            record.append(time.perf_counter() - begin)
    return [statistics.median(record) for record in times]


def main():
    warnings.simplefilter("ignore")
    rows = []
    with tempfile.TemporaryDirectory() as folder:
        cases = [(name, os.path.join(FOLDER, name), reader) for name, reader in PEER_READERS.items()]
        cases.append((f"generated {LARGE_LINES} lines (.csv)", write_large_table(folder), preprocessing.readCSV))
        for name, path, reader in cases:
            points = len(vorlane.read_spectrum(path))
            peer_points = len(reader(path)[0])
            large = "generated" in name
            ours, theirs = medians([lambda: vorlane.read_spectrum(path), lambda: reader(path)],
                                   minimum_calls=5 if large else 21)
            rows.append((name, reader.__name__, points, peer_points, ours, theirs))
    print(f"{'file':36} {'impedance.py':17} {'rows':>11} {'vorlane ms':>11} {'impedance ms':>13} {'ratio':>6}")
    for name, peer, points, peer_points, ours, theirs in rows:
        counts = f"{points}/{peer_points}"
        print(f"{name:36} {peer:17} {counts:>11} {ours * 1e3:11.3f} {theirs * 1e3:13.3f} {ours / theirs:6.2f}")
    print("rows: vorlane's / impedance.py's (vorlane leaves out the DC rows at zero frequency);"
          " ratio: vorlane's median time over impedance.py's")


if __name__ == "__main__":
    main()
