"""Fit results as a table: one row per spectrum, for pandas or polars."""

import math

from vorlane._core import FitResult

BACKENDS = ("pandas", "polars")
EXTRA_FOR_BACKEND = {"pandas": "pandas", "polars": "polars"}


def _parameter_names(fits):
    names = {}
    for result in fits:
        names.update(dict.fromkeys(result.params))
    return list(names)


def _stderr(result, name):
    """A fixed parameter has no standard error (None): missing, as for a fit without any."""
    value = (result.stderr or {}).get(name)
    return math.nan if value is None else value


def _error_text(error):
    return f"{type(error).__name__}: {error}"


def _key_columns(keys, rows):
    columns = {}
    for column, values in (keys or {}).items():
        values = list(values)
        if len(values) != rows:
            raise ValueError(f"keys[{column!r}] has {len(values)} values for {rows} results")
        columns[column] = values
    return columns


def _columns(results, keys, params):
    fits = [result for result in results if isinstance(result, FitResult)]
    names = _parameter_names(fits) if params is None else list(params)
    columns = _key_columns(keys, len(results))
    clashes = [name for name in names if name in columns]
    if clashes:
        raise ValueError(f"key columns {clashes} have the names of parameters")

    def per_result(value_of, missing):
        return [value_of(result) if isinstance(result, FitResult) else missing for result in results]

    for name in names:
        columns[name] = per_result(lambda r: r.params.get(name, math.nan), math.nan)
        columns[f"{name}_stderr"] = per_result(lambda r: _stderr(r, name), math.nan)
    columns["cost"] = per_result(lambda r: r.cost, math.nan)
    columns["chi_square"] = per_result(lambda r: r.chi_square, math.nan)
    columns["success"] = per_result(lambda r: r.success, False)
    columns["iterations"] = per_result(lambda r: r.iterations, None)
    columns["impedance_evals"] = per_result(lambda r: r.impedance_evals, None)
    columns["error"] = [None if isinstance(r, FitResult) else _error_text(r) for r in results]
    return columns, names


def _import_backend(backend):
    try:
        return __import__(backend)
    except ImportError as error:
        raise ImportError(
            f"results_table(backend={backend!r}) needs {backend}: pip install vorlane[{EXTRA_FOR_BACKEND[backend]}]"
        ) from error


def _pandas_frame(pd, columns, names):
    floats = [*names, *(f"{name}_stderr" for name in names), "cost", "chi_square"]
    typed = {"iterations": "Int64", "impedance_evals": "Int64", "success": "bool", "error": "string"}
    typed.update(dict.fromkeys(floats, "float64"))
    return pd.DataFrame({name: pd.array(values, dtype=typed.get(name)) for name, values in columns.items()})


def _polars_frame(pl, columns, names):
    floats = [*names, *(f"{name}_stderr" for name in names), "cost", "chi_square"]
    typed = {"iterations": pl.Int64, "impedance_evals": pl.Int64, "success": pl.Boolean, "error": pl.String}
    typed.update(dict.fromkeys(floats, pl.Float64))
    return pl.DataFrame([pl.Series(name, values, dtype=typed.get(name), strict=False) for name, values in columns.items()])


def results_table(results, *, keys=None, params=None, backend="pandas"):
    """One row per spectrum of `results` (a list of `FitResult`, such as
    `Circuit.fit_many` returns, collected exceptions included) as a pandas or
    polars dataframe.

    Columns: the key columns of `keys` first ({column: values}, one value per
    result, e.g. from `group_keys()`), then each parameter and its standard
    error ("R0.r", "R0.r_stderr"), "cost", "chi_square", "success",
    "iterations", "impedance_evals" and "error" (the collected exception as
    "Type: message", missing for a fit). A parameter the circuit held fixed
    shows its value and a missing standard error. A row of an error has missing numbers
    and success False. `params` fixes the parameter columns (for example
    `circuit.param_names()`), so that tables of different batches line up;
    by default they are those of the results, in order of first appearance.
    """
    if backend not in BACKENDS:
        raise ValueError(f"backend must be one of {list(BACKENDS)}, got {backend!r}")
    results = list(results)
    for index, result in enumerate(results):
        if not isinstance(result, (FitResult, BaseException)):
            raise TypeError(f"results[{index}]: expected FitResult or an exception, got '{type(result).__name__}'")
    columns, names = _columns(results, keys, params)
    module = _import_backend(backend)
    return (_pandas_frame if backend == "pandas" else _polars_frame)(module, columns, names)
