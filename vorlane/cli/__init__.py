"""The vorlane command: quick looks at measurement files from a shell.

Each command is a module that adds its parser to the subcommands and runs
it, returning the exit status. `main` parses, dispatches, and turns the
library's errors for input it cannot use into one "vorlane: error: ..."
line on stderr; any other exception is a bug and keeps its traceback.
"""

from __future__ import annotations

import argparse
import sys
import warnings
from typing import Any, Optional, Sequence, TextIO

import vorlane
from vorlane.cli import exit_status, fit, info, kramers_kronig

COMMANDS = (fit, kramers_kronig, info)

DESCRIPTION = "Quick looks at impedance spectra: read a measurement file, test it, fit a circuit."

# What the library raises for input it cannot use: a file missing or not
# readable as a spectrum, an invalid circuit string, a spectrum a fit or test
# rejects, an option out of its range (a negative seed), a missing optional
# dependency (its message names the extra).
UNUSABLE_INPUT_ERRORS = (OSError, ValueError, OverflowError, ImportError)


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="vorlane", description=DESCRIPTION, epilog=exit_status.TABLE,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {vorlane.__version__}")
    commands = parser.add_subparsers(title="commands", metavar="COMMAND", required=True)
    for command in COMMANDS:
        command.add_to(commands)
    return parser


def _error_text(error: BaseException) -> str:
    if isinstance(error, OSError) and error.filename is not None and error.strerror:
        return f"{error.filename}: {error.strerror}"
    return str(error)


def _show_warning(
    message: Warning | str, category: type[Warning], filename: str, lineno: int,
    file: Optional[TextIO] = None, line: Optional[str] = None,
) -> None:
    print(f"vorlane: warning: {message}", file=sys.stderr)


def main(argv: Optional[Sequence[str]] = None) -> int:
    """Run the vorlane command with `argv` (default: the process's arguments)
    and return its exit status."""
    args = build_parser().parse_args(argv)
    try:
        with warnings.catch_warnings():
            warnings.showwarning = _show_warning
            status: int = args.run(args)
            return status
    except KeyboardInterrupt:
        return exit_status.INTERRUPTED
    except UNUSABLE_INPUT_ERRORS as error:
        print(f"vorlane: error: {_error_text(error)}", file=sys.stderr)
        return exit_status.UNUSABLE_INPUT
