"""Equivalent-circuit analysis of electrochemical impedance spectra."""

import os
from typing import Any, Iterable, Literal, Mapping, Sequence, overload

import pandas
import polars

from vorlane import datasets as datasets
from vorlane import plot as plot
from vorlane._core import C as C
from vorlane._core import G as G
from vorlane._core import Gs as Gs
from vorlane._core import K as K
from vorlane._core import L as L
from vorlane._core import La as La
from vorlane._core import R as R
from vorlane._core import T as T
from vorlane._core import W as W
from vorlane._core import Wo as Wo
from vorlane._core import Ws as Ws
from vorlane._core import Circuit as Circuit
from vorlane._core import Cpe as Cpe
from vorlane._core import Element as Element
from vorlane._core import FitResult as FitResult
from vorlane._core import KramersKronigResult as KramersKronigResult
from vorlane._core import Parallel as Parallel
from vorlane._core import Series as Series
from vorlane._core import Tlmq as Tlmq
from vorlane._core import Zarc as Zarc
from vorlane._core import kernel_variant as kernel_variant
from vorlane._core import kramers_kronig as kramers_kronig

__version__: str

def read_spectrum(path: str | os.PathLike[str], format: str | None = None) -> pandas.DataFrame:
    """Read one impedance spectrum from a measurement file.

    Returns a pandas DataFrame (needs pandas) with the columns "Frequency /
    Hz", "Real Impedance / ohm" and "Imaginary Impedance / ohm", plus "Test
    Time / s", "Voltage / V" and "Current / A" where the file holds them, one
    row per measured frequency in the file's order, in hertz, ohm, second,
    volt and ampere, imaginary parts signed as measured (negative for
    capacitive arcs). `Circuit.fit`, `kramers_kronig` and the plots take it
    directly; `frame.attrs` holds the "source" path and the "format" read.

    `format` None detects the format from the file's first line and its
    extension; or name one of "gamry" (.DTA), "biologic" (.mpt), "zplot"
    (.z), "autolab", "versastudio" (.par), or "chi", "parstat",
    "powersuite", "csv" (text tables with a header line naming frequency
    and impedance columns). Text in UTF-8, UTF-16 (with its byte-order mark)
    or Windows-1252; a comma in a number is its decimal mark wherever commas
    do not separate the columns. Every row is read or named in an error.

    A file that cannot be read as a spectrum raises ValueError naming the
    file, the line and what was expected there."""

@overload
def results_table(
    results: Iterable[FitResult | BaseException],
    *,
    keys: Mapping[str, Sequence[Any]] | None = None,
    params: Sequence[str] | None = None,
    backend: Literal["pandas"] = "pandas",
) -> pandas.DataFrame:
    """One row per spectrum of `results` (a list of `FitResult`, such as
    `Circuit.fit_many` returns, collected exceptions included) as a pandas or
    polars dataframe (`backend`).

    Columns: the key columns of `keys` first ({column: values}, one value per
    result, e.g. from `group_keys()`), then each parameter and its standard
    error ("R0.r", "R0.r_stderr"), "cost", "chi_square", "success",
    "iterations", "impedance_evals" and "error" (the collected exception as
    "Type: message"). `params` fixes the parameter columns, so that tables of
    different batches line up."""

@overload
def results_table(
    results: Iterable[FitResult | BaseException],
    *,
    keys: Mapping[str, Sequence[Any]] | None = None,
    params: Sequence[str] | None = None,
    backend: Literal["polars"],
) -> polars.DataFrame: ...
def group_keys(frame: Any, by: str | Sequence[str]) -> dict[str, list[Any]]:
    """The key of each spectrum that `Circuit.fit_many(frame, by=by)` fits, in
    the same order, as {column: [values]}; hand it to `results_table(keys=...)`."""

@overload
def drop_outliers(
    check: KramersKronigResult, frequencies: Sequence[float] | Any, impedances: Sequence[complex] | Any
) -> tuple[Any, Any]:
    """The two sequences a `kramers_kronig` check was run on, as numpy
    arrays, without the points it marked as `outliers`."""
@overload
def drop_outliers(check: KramersKronigResult, frequencies: Any, impedances: None = None) -> Any:
    """The dataframe (pandas or polars) or dict of columns a `kramers_kronig`
    check was run on, of the same kind, without the rows it marked as
    `outliers` (rows at zero or negative frequency, which the check skipped,
    are kept)."""
