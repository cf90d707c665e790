"""results_table: one row per spectrum, for pandas and polars, with the
errors fit_many collected."""

import itertools
import math
import sys

import numpy as np
import pytest

import vorlane

F = np.logspace(-1, 4, 30)
CIRCUIT = vorlane.Circuit("R0-(R1,C1)")


def spectrum(r1):
    return F, CIRCUIT.with_values([10, r1, 1e-4]).impedance(F) * (1 + 0.01 * np.sin(np.arange(30)))


@pytest.fixture(scope="module")
def results():
    return CIRCUIT.fit_many([spectrum(100), ([], []), spectrum(300)], errors="collect")


def rows(frame):
    """The table as a list of row dicts, whichever the backend, missing values as None."""
    records = frame.to_dicts() if hasattr(frame, "to_dicts") else frame.astype(object).to_dict("records")
    return [{k: (None if v is None or v is getattr(__import__("pandas"), "NA", None) else v) for k, v in r.items()}
            for r in records]


@pytest.mark.parametrize("backend", ["pandas", "polars"])
def test_one_row_per_spectrum_with_every_column(results, backend):
    pytest.importorskip(backend)
    table = vorlane.results_table(results, keys={"cycle": [1, 2, 3]}, backend=backend)
    assert list(table.columns) == [
        "cycle", "R0.r", "R0.r_stderr", "R1.r", "R1.r_stderr", "C1.c", "C1.c_stderr",
        "cost", "chi_square", "success", "iterations", "impedance_evals", "error",
    ]
    first, failed, third = rows(table)
    for row, result in [(first, results[0]), (third, results[2])]:
        assert [row[name] for name in result.params] == list(result.params.values())
        assert [row[f"{name}_stderr"] for name in result.stderr] == list(result.stderr.values())
        assert (row["cost"], row["chi_square"], row["success"], row["iterations"], row["impedance_evals"]) == (
            result.cost, result.chi_square, result.success, result.iterations, result.impedance_evals)
        assert row["error"] is None
    assert failed["cycle"] == 2 and math.isnan(failed["R1.r"]) and math.isnan(failed["cost"])
    assert failed["success"] is False and failed["iterations"] is None
    assert failed["error"] == "ValueError: need at least 2 frequency points to guess, got 0"


@pytest.mark.parametrize("backend", ["pandas", "polars"])
def test_fixed_parameter_columns_line_up_batches_of_errors_only(backend):
    pytest.importorskip(backend)
    errors_only = vorlane.results_table([ValueError("x")], params=CIRCUIT.param_names(), backend=backend)
    fitted = vorlane.results_table(CIRCUIT.fit_many([spectrum(100)]), backend=backend)
    assert list(errors_only.columns) == list(fitted.columns)
    assert [str(t) for t in errors_only.dtypes] == [str(t) for t in fitted.dtypes]


def test_empty_and_missing_stderr():
    table = vorlane.results_table([CIRCUIT.with_values([1, 2, 3]).fit(F[:2], [1.0, 2.0])])
    assert math.isnan(table["R0.r_stderr"][0]) and table.shape == (1, 12)
    assert vorlane.results_table([]).shape == (0, 6)


@pytest.mark.parametrize(
    "args, kwargs, error, message",
    [
        (([1.0],), {}, TypeError, "results[0]: expected FitResult or an exception, got 'float'"),
        (([],), {"backend": "arrow"}, ValueError, "backend must be one of ['pandas', 'polars'], got 'arrow'"),
        (([ValueError()],), {"keys": {"cycle": [1, 2]}}, ValueError, "keys['cycle'] has 2 values for 1 results"),
        (([ValueError()],), {"keys": {"R0.r": [1]}, "params": ["R0.r"]}, ValueError,
         "key columns ['R0.r'] have the names of result columns (the parameters, their standard errors, cost, "
         "chi_square, success, iterations, impedance_evals, error): rename them"),
        # A key column must not overwrite a result column either.
        (([ValueError()],), {"keys": {"cost": [1]}}, ValueError, "key columns ['cost'] have the names of result"),
        (([ValueError()],), {"keys": ["cycle"]}, TypeError,
         "argument 'keys': expected a mapping of column name to values, one value per result (such as group_keys() "
         "returns), got 'list'"),
        (([ValueError()] * 3,), {"keys": {"cycle": "abc"}}, TypeError,
         "keys['cycle']: expected a sequence of values, one per result, got 'str'"),
        (([ValueError()],), {"keys": {"cycle": 1}}, TypeError, "keys['cycle']: expected a sequence of values"),
        (([ValueError()],), {"keys": {"cycle": itertools.count()}}, ValueError,
         "keys['cycle'] has more than 1 values for 1 results"),
        (([ValueError()],), {"keys": {3: [1]}}, TypeError, "argument 'keys': column names must be str, got 3"),
        (([ValueError()],), {"params": "R0.r"}, TypeError,
         "argument 'params': expected a list of parameter names, got the str 'R0.r' (write ['R0.r'] for one "
         "parameter)"),
        (([ValueError()],), {"params": ["R0.r", 1]}, TypeError, "argument 'params': parameter names must be str"),
        (([ValueError()],), {"params": ["R0.r", "R0.r"]}, ValueError, "argument 'params' names ['R0.r'] more than once"),
        ((ValueError(),), {}, TypeError, "argument 'results': expected a list of results, got 'ValueError'"),
    ],
)
def test_bad_arguments(args, kwargs, error, message):
    with pytest.raises(error) as raised:
        vorlane.results_table(*args, **kwargs)
    assert str(raised.value).startswith(message)


def test_keys_from_a_dataframe_and_any_sequence_of_values(results):
    pd = pytest.importorskip("pandas")
    table = vorlane.results_table(results, keys=pd.DataFrame({"cycle": [4, 5, 6], "cell": ["a", "b", "c"]}))
    assert list(table.columns[:3]) == ["cycle", "cell", "R0.r"]
    assert list(table["cell"]) == ["a", "b", "c"]
    table = vorlane.results_table(results, keys={"cycle": np.array([4, 5, 6])}, params=("R1.r",))
    assert list(table["cycle"]) == [4, 5, 6] and list(table.columns[1:3]) == ["R1.r", "R1.r_stderr"]


def test_a_missing_backend_names_the_extra(monkeypatch):
    monkeypatch.setitem(sys.modules, "polars", None)
    with pytest.raises(ImportError, match=r"needs polars: pip install vorlane\[polars\]"):
        vorlane.results_table([], backend="polars")
