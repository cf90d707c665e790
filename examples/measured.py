"""The bundled measured spectra (examples/data), read with the csv module into
the dict of columns that every vorlane function takes as a spectrum."""

import csv
from pathlib import Path

DATA = Path(__file__).resolve().parent / "data"


def read_columns(name: str) -> dict[str, list[float]]:
    """Columns of examples/data/<name>: battery data format names -> values."""
    with open(DATA / name, newline="") as handle:
        rows = list(csv.DictReader(handle))
    return {key: [float(row[key]) for row in rows] for key in rows[0]}


def output_folder(argv: list[str]) -> Path:
    """The folder named on the command line, else examples/output; created."""
    folder = Path(argv[1]) if len(argv) > 1 else Path(__file__).resolve().parent / "output"
    folder.mkdir(parents=True, exist_ok=True)
    return folder


def save_figure(target: Path) -> Path:
    """Writes the current matplotlib figure to `target` and closes it."""
    import matplotlib.pyplot as plt

    plt.savefig(target, dpi=110)
    plt.close()
    return target
