"""vorlane info FILE: what a measurement file holds."""

from __future__ import annotations

import argparse
from typing import Any

from vorlane.cli import exit_status, measurement_file
from vorlane.cli.text import fields, number

FREQUENCY_COLUMN = "Frequency / Hz"


def add_to(commands: Any) -> None:
    parser = commands.add_parser(
        "info", help="points, frequency range, format and columns of a file",
        description="Print what FILE holds: the format read, the number of points, the frequency range and the "
        "columns present.",
    )
    measurement_file.add_arguments(parser)
    parser.set_defaults(run=run)


def run(args: argparse.Namespace) -> int:
    spectrum = measurement_file.read(args)
    frequencies = spectrum[FREQUENCY_COLUMN]
    print(fields([
        ("file", str(spectrum.attrs["source"])),
        ("format", spectrum.attrs["format"]),
        ("points", str(len(spectrum))),
        ("frequency", f"{number(frequencies.min())} Hz to {number(frequencies.max())} Hz"),
        ("columns", ", ".join(spectrum.columns)),
    ]))
    return exit_status.SUCCESS
