"""vorlane fit FILE CIRCUIT: fit a circuit to a measured spectrum."""

from __future__ import annotations

import argparse
import json
import sys
from typing import Any, Dict, List

import vorlane
from vorlane.cli import exit_status, figure, measurement_file
from vorlane.cli.text import columns, fields, finite_or_none, number

DESCRIPTION = """Fit a circuit to the spectrum of FILE and print the fitted parameters
(values, standard errors, units), the cost, the chi-square and whether the
fit converged. Starting values are guessed, as vorlane.Circuit(CIRCUIT).fit
does. A fit that does not converge exits with status 3."""


def add_to(commands: Any) -> None:
    parser = commands.add_parser(
        "fit", help="fit a circuit to a spectrum", description=DESCRIPTION,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    measurement_file.add_arguments(parser)
    parser.add_argument(
        "circuit", metavar="CIRCUIT", help='a circuit string such as "R0-(R1,CPE1)", or a model name such as randles'
    )
    parser.add_argument(
        "--method", help="levenberg_marquardt (the default), nelder_mead, particle_swarm, differential_evolution, "
        "simulated_annealing or basin_hopping",
    )
    parser.add_argument("--seed", type=int, help="seed of the random methods, for repeatable fits")
    figure.add_argument(parser, "the fit: measured points, fitted curve, residuals")
    parser.add_argument("--json", metavar="OUT.json", help="write the result as JSON")
    parser.set_defaults(run=run)


def run(args: argparse.Namespace) -> int:
    circuit = vorlane.Circuit(args.circuit)
    spectrum = measurement_file.read(args)
    options = {name: value for name, value in (("method", args.method), ("seed", args.seed)) if value is not None}
    result = circuit.fit(spectrum, **options)
    print(report(spectrum, result))
    if args.json:
        with open(args.json, "w", encoding="utf-8") as handle:
            json.dump(record(spectrum, result), handle, indent=2, allow_nan=False)
            handle.write("\n")
    if args.plot:
        nyquist_ax, _ = figure.plots().fit(result, spectrum)
        figure.write(nyquist_ax, args.plot)
    if not result.success:
        print("vorlane: warning: the fit did not converge", file=sys.stderr)
        return exit_status.FIT_NOT_CONVERGED
    return exit_status.SUCCESS


def report(spectrum: Any, result: vorlane.FitResult) -> str:
    fitted = result.circuit
    stderr = result.stderr or {}
    parameters = [["parameter", "value", "std. error", "unit"]] + [
        [name, number(result.params[name]), number(stderr.get(name)), unit]
        for name, unit in zip(fitted.param_names(), fitted.param_units())
    ]
    head = fields([("file", f"{spectrum.attrs['source']} ({spectrum.attrs['format']})"),
                   ("circuit", fitted.circuit_string)])
    tail = fields([("cost", number(result.cost)), ("chi_square", number(result.chi_square)),
                   ("success", str(result.success).lower())])
    return f"{head}\n\n{columns(parameters)}\n\n{tail}"


def record(spectrum: Any, result: vorlane.FitResult) -> Dict[str, Any]:
    """The fit as JSON values; null stands for a number that is missing or not finite."""
    fitted = result.circuit
    names: List[str] = fitted.param_names()
    stderr = result.stderr or {}
    return {
        "file": spectrum.attrs["source"],
        "format": spectrum.attrs["format"],
        "circuit": fitted.circuit_string,
        "parameters": names,
        "units": dict(zip(names, fitted.param_units())),
        "values": {name: finite_or_none(result.params[name]) for name in names},
        "stderr": {name: finite_or_none(stderr.get(name)) for name in names},
        "cost": finite_or_none(result.cost),
        "chi_square": finite_or_none(result.chi_square),
        "success": result.success,
    }
