"""vorlane kk FILE: the linear Kramers-Kronig test of a measured spectrum."""

from __future__ import annotations

import argparse
from typing import Any

import vorlane
from vorlane.cli import exit_status, figure, measurement_file

DESCRIPTION = """Run the linear Kramers-Kronig test on the spectrum of FILE: is the
measurement linear, causal and stable? Prints the verdict, the noise
estimate, the systematic part of the residuals and the threshold it is held
to (per cent of |Z|), the points left out as outliers, and the chain fitted
(m RC elements, mu, the pseudo chi-square, the largest relative residual).
The exit status says whether the spectrum is valid."""


def add_to(commands: Any) -> None:
    parser = commands.add_parser(
        "kk", help="test a spectrum for Kramers-Kronig consistency", description=DESCRIPTION,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    measurement_file.add_arguments(parser)
    parser.add_argument(
        "--capacitance", action=argparse.BooleanOptionalAction, default=None,
        help="add (or leave out) a series capacitance; by default the test decides",
    )
    parser.add_argument(
        "--inductance", action=argparse.BooleanOptionalAction, default=None,
        help="add (or leave out) a series inductance; by default the test decides",
    )
    figure.add_argument(parser, "the test: measured points, RC chain, residuals")
    parser.set_defaults(run=run)


def run(args: argparse.Namespace) -> int:
    spectrum = measurement_file.read(args)
    check = vorlane.kramers_kronig(spectrum, capacitance=args.capacitance, inductance=args.inductance)
    print(check)
    outlier_rows = spectrum.index.difference(vorlane.drop_outliers(check, spectrum).index)
    outliers = spectrum.loc[outlier_rows, "Frequency / Hz"]
    if outliers.size:
        print("outliers at " + ", ".join(f"{f:.6g}" for f in outliers) + " Hz")
    print(f"{'valid' if check.valid else 'not valid'}: noise {check.noise:.3g} %, systematic {check.systematic:.3g} % "
          f"(threshold {check.threshold:.3g} %)")
    if args.plot:
        nyquist_ax, _ = figure.plots().kramers_kronig(check, spectrum)
        figure.write(nyquist_ax, args.plot)
    return exit_status.SUCCESS if check.valid else exit_status.NOT_VALID
