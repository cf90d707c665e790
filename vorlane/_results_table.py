"""Fit results as a table: one row per spectrum, for pandas or polars."""

import collections
import itertools
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


# The columns every table has after the parameter columns.
RESULT_COLUMNS = ("cost", "chi_square", "success", "iterations", "impedance_evals", "error")


def _key_columns(keys, rows):
    if keys is None:
        return {}
    # A mapping, or a pandas dataframe: both have items() of column and values.
    if isinstance(keys, (str, bytes)) or not callable(getattr(keys, "items", None)):
        raise TypeError(
            "argument 'keys': expected a mapping of column name to values, one value per result (such as "
            f"group_keys() returns), got '{type(keys).__name__}'"
        )
    columns = {}
    for column, values in keys.items():
        if not isinstance(column, str):
            raise TypeError(f"argument 'keys': column names must be str, got {column!r}")
        if isinstance(values, (str, bytes)) or not hasattr(values, "__iter__"):
            raise TypeError(
                f"keys[{column!r}]: expected a sequence of values, one per result, got '{type(values).__name__}'"
            )
        # An iterator is read no further than one value past the count.
        sized = hasattr(values, "__len__")
        values = list(values) if sized else list(itertools.islice(values, rows + 1))
        if len(values) != rows:
            count = len(values) if sized or len(values) < rows else f"more than {rows}"
            raise ValueError(f"keys[{column!r}] has {count} values for {rows} results")
        columns[column] = values
    return columns


def _parameter_list(params):
    if isinstance(params, str):
        raise TypeError(f"argument 'params': expected a list of parameter names, got the str {params!r} "
                        f"(write [{params!r}] for one parameter)")
    if isinstance(params, bytes) or not hasattr(params, "__iter__"):
        raise TypeError(f"argument 'params': expected a list of parameter names, got '{type(params).__name__}'")
    names = list(params)
    for name in names:
        if not isinstance(name, str):
            raise TypeError(f"argument 'params': parameter names must be str, got {name!r}")
    repeated = sorted(name for name, count in collections.Counter(names).items() if count > 1)
    if repeated:
        raise ValueError(f"argument 'params' names {repeated} more than once")
    return names


def _columns(results, keys, params):
    fits = [result for result in results if isinstance(result, FitResult)]
    names = _parameter_names(fits) if params is None else _parameter_list(params)
    columns = _key_columns(keys, len(results))
    produced = {*names, *(f"{name}_stderr" for name in names), *RESULT_COLUMNS}
    clashes = [name for name in columns if name in produced]
    if clashes:
        raise ValueError(
            f"key columns {clashes} have the names of result columns (the parameters, their standard errors, "
            f"{', '.join(RESULT_COLUMNS)}): rename them"
        )

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
    result, e.g. from `group_keys()`; a name that a result column has is
    refused), then each parameter and its standard
    error ("R0.r", "R0.r_stderr"), "cost", "chi_square", "success",
    "iterations", "impedance_evals" and "error" (the collected exception as
    "Type: message", missing for a fit). A parameter the circuit held fixed
    shows its value and a missing standard error. A row of an error has missing numbers
    and success False. `params` fixes the parameter columns (for example
    `circuit.param_names()`, a list even for one name), so that tables of
    different batches line up; by default they are those of the results, in
    order of first appearance.
    """
    if backend not in BACKENDS:
        raise ValueError(f"backend must be one of {list(BACKENDS)}, got {backend!r}")
    if isinstance(results, (FitResult, BaseException)) or not hasattr(results, "__iter__"):
        raise TypeError(f"argument 'results': expected a list of results, got '{type(results).__name__}'")
    results = list(results)
    for index, result in enumerate(results):
        if not isinstance(result, (FitResult, BaseException)):
            raise TypeError(f"results[{index}]: expected FitResult or an exception, got '{type(result).__name__}'")
    columns, names = _columns(results, keys, params)
    module = _import_backend(backend)
    return (_pandas_frame if backend == "pandas" else _polars_frame)(module, columns, names)
