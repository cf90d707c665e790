"""The measurement file every command reads: its argument and --format."""

from __future__ import annotations

import argparse
from typing import Any

import vorlane
from vorlane.readers import FORMATS


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("file", metavar="FILE", help="a measurement file: an instrument's export or a text table")
    parser.add_argument(
        "--format", metavar="NAME", choices=FORMATS,
        help=f"the file's format, one of {', '.join(FORMATS)} (default: detected from the file)",
    )


def read(args: argparse.Namespace) -> Any:
    """The spectrum as the pandas DataFrame of vorlane.read_spectrum."""
    return vorlane.read_spectrum(args.file, args.format)
