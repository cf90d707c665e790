"""--plot: a figure of vorlane.plot written to a file."""

from __future__ import annotations

import argparse
import os
from types import ModuleType
from typing import TYPE_CHECKING, cast

if TYPE_CHECKING:
    from matplotlib.axes import Axes
    from matplotlib.figure import Figure


def add_argument(parser: argparse.ArgumentParser, what: str) -> None:
    parser.add_argument(
        "--plot", metavar="OUT.png",
        help=f"write a plot of {what} (the format follows the extension: .png, .pdf, .svg; needs matplotlib)",
    )


def plots() -> ModuleType:
    """vorlane.plot, drawing with matplotlib's Agg backend: files only, no
    window and no display needed. The backend is chosen before vorlane.plot
    first imports matplotlib, whose import error names the extra to install."""
    os.environ["MPLBACKEND"] = "Agg"
    from vorlane import plot

    return plot


def write(axes: Axes, path: str) -> None:
    """Writes the figure of `axes` to `path` and closes it."""
    import matplotlib.pyplot as pyplot

    # vorlane.plot draws on new figures of its own, never on subfigures.
    figure = cast("Figure", axes.figure)
    figure.savefig(path, dpi=120)
    pyplot.close(figure)
