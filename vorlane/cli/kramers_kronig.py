"""vorlane kk FILE: the linear Kramers-Kronig test of a measured spectrum."""

from __future__ import annotations

import argparse
from typing import Any

import vorlane
from vorlane.cli import exit_status, figure, measurement_file

DESCRIPTION = """Run the linear Kramers-Kronig test on the spectrum of FILE: is the
measurement linear, causal and stable? Prints the number of RC elements m,
mu, the pseudo chi-square and the largest relative residual; residuals
within the noise (a fraction of a percent) mean a valid measurement."""


def add_to(commands: Any) -> None:
    parser = commands.add_parser(
        "kk", help="test a spectrum for Kramers-Kronig consistency", description=DESCRIPTION,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    measurement_file.add_arguments(parser)
    parser.add_argument("--capacitance", action="store_true", help="add a series capacitance (a diffusion tail)")
    parser.add_argument("--inductance", action="store_true", help="add a series inductance (an inductive tail)")
    figure.add_argument(parser, "the test: measured points, RC chain, residuals")
    parser.set_defaults(run=run)


def run(args: argparse.Namespace) -> int:
    spectrum = measurement_file.read(args)
    check = vorlane.kramers_kronig(spectrum, capacitance=args.capacitance, inductance=args.inductance)
    print(check)
    if args.plot:
        nyquist_ax, _ = figure.plots().kramers_kronig(check, spectrum)
        figure.write(nyquist_ax, args.plot)
    return exit_status.SUCCESS
