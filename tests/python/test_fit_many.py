"""Circuit.fit_many: results bit-identical to lone fits, every input form,
warm starts, error handling, progress display and Ctrl-C."""

import signal
import struct
import subprocess
import sys
import textwrap
import threading
import time
import warnings

import numpy as np
import pytest

import vorlane
from conftest import SPECTRUM_FILES, read_spectrum

SPECTRA = [read_spectrum(name) for name in SPECTRUM_FILES]
PAIRS = [(s.frequencies, s.impedances) for s in SPECTRA]

METHODS = [
    {},
    {"method": "nelder_mead", "nelder_mead_iterations": 300},
    {"method": "particle_swarm", "num_particles": 12, "generations": 15, "seed": 7},
    {"method": "simulated_annealing", "sa_iterations": 300, "seed": 5},
    {"method": "basin_hopping", "basin_hopping_hops": 2, "seed": 3},
]


def bits(result):
    """Everything a result holds, floats as their bit patterns."""
    pack = lambda x: struct.pack("<d", x)  # noqa: E731
    return (
        repr(result),
        [pack(v) for v in result.params.values()],
        None if result.stderr is None else [pack(v) for v in result.stderr.values()],
        pack(result.cost),
        [pack(v) for v in result.circuit.param_values()],
    )


@pytest.mark.parametrize("options", METHODS, ids=lambda o: o.get("method", "default"))
@pytest.mark.parametrize("circuit", ["R0-(R1,C1)", "R0-(R1,CPE1)"])
def test_results_equal_lone_fits_bit_for_bit(circuit, options):
    c = vorlane.Circuit(circuit)
    alone = [c.fit(f, z, **options) for f, z in PAIRS]
    for workers in (None, 1):
        assert [bits(r) for r in c.fit_many(PAIRS, workers=workers, **options)] == [bits(r) for r in alone]


def test_explicit_values_without_guess_and_unit_weighting_match_too():
    c = vorlane.Circuit("R0-(R1,C1)").with_values([20, 40, 1e-5])
    alone = [c.fit(f, z, weight="unit", max_iterations=50) for f, z in PAIRS]
    assert [bits(r) for r in c.fit_many(PAIRS, weight="unit", max_iterations=50)] == [bits(r) for r in alone]


def test_every_spectrum_form_and_any_iterable():
    s = SPECTRA[1]
    frame = {"Frequency / Hz": list(s.frequencies), **{k: v for k, v in s.columns.items() if k != "Frequency / Hz"}}
    c = vorlane.Circuit("R0-(R1,C1)")
    expected = bits(c.fit(s.frequencies, s.impedances))
    forms = [(s.frequencies, s.impedances), [list(s.frequencies), list(s.impedances)], frame]
    assert [bits(r) for r in c.fit_many(forms)] == [expected] * 3
    assert [bits(r) for r in c.fit_many(iter(forms[:1]))] == [expected]
    assert c.fit_many([]) == []


def long_frame():
    """Three spectra in one pandas dataframe, told apart by cycle and
    temperature; the third cycle's rows come first."""
    pd = pytest.importorskip("pandas")
    parts = []
    for cycle, temperature, s in [(3, 25.0, SPECTRA[1]), (1, 25.0, SPECTRA[3]), (1, 40.0, SPECTRA[5])]:
        part = pd.DataFrame(s.columns)
        part["Cycle Count / 1"] = cycle
        part["Temperature / degC"] = temperature
        parts.append(part)
    return pd.concat(parts, ignore_index=True), [SPECTRA[1], SPECTRA[3], SPECTRA[5]]


@pytest.mark.parametrize("backend", ["pandas", "polars"])
def test_one_long_dataframe_split_by_columns(backend):
    frame, spectra = long_frame()
    if backend == "polars":
        frame = pytest.importorskip("polars").from_pandas(frame)
    c = vorlane.Circuit("R0-(R1,C1)")
    by = ["Cycle Count / 1", "Temperature / degC"]
    expected = [bits(c.fit(s.frequencies, s.impedances)) for s in spectra]
    assert [bits(r) for r in c.fit_many(frame, by=by)] == expected
    assert vorlane.group_keys(frame, by) == {"Cycle Count / 1": [3, 1, 1], "Temperature / degC": [25.0, 25.0, 40.0]}
    assert len(c.fit_many(frame, by="Cycle Count / 1")) == 2


def test_rows_with_a_missing_key_are_a_spectrum_of_their_own():
    frame, _ = long_frame()
    frame.loc[frame["Cycle Count / 1"] == 1, "Cycle Count / 1"] = np.nan
    assert len(vorlane.Circuit("R0-(R1,C1)").fit_many(frame, by="Cycle Count / 1")) == 2
    keys = vorlane.group_keys(frame, "Cycle Count / 1")["Cycle Count / 1"]
    assert keys[0] == 3 and np.isnan(keys[1])


@pytest.mark.parametrize(
    "spectra, kwargs, error, message",
    [
        ({"Frequency / Hz": [1.0]}, {}, TypeError, "pass by= naming the column(s)"),
        ("R0", {}, TypeError, "expected a sequence of spectra"),
        (5, {}, TypeError, "argument 'spectra'"),
        ([], {"errors": "ignore"}, ValueError, 'errors must be "raise" or "collect", got "ignore"'),
        ([], {"workers": 0}, ValueError, "argument 'workers': expected an integer from 1 to 18446744073709551615 "
                                         "or None, got 0"),
        ([], {"workers": -1}, ValueError, "argument 'workers': expected an integer from 1"),
        ([], {"workers": 2**64}, ValueError, "got 18446744073709551616"),
        ([], {"workers": 1.0}, TypeError, "argument 'workers'"),
        ([], {"warm_start": None}, TypeError, "argument 'warm_start'"),
        ([], {"method": "Nelder_Mead"}, ValueError, 'unknown fit method "Nelder_Mead"'),
        ([], {"weight": "none"}, ValueError, 'unknown weight scheme "none"'),
        ([], {"frequencies": []}, TypeError, "frequencies"),
        ([], {"by": 3}, TypeError, "argument 'by'"),
        ([(1, 2)], {"by": "Cycle"}, TypeError, "needs a pandas or polars dataframe"),
    ],
)
def test_argument_errors(spectra, kwargs, error, message):
    with pytest.raises(error, match=None) as raised:
        vorlane.Circuit("R0").fit_many(spectra, **kwargs)
    assert message in str(raised.value)


def test_by_names_a_missing_column():
    frame, _ = long_frame()
    with pytest.raises(ValueError, match="by= names columns the dataframe does not have: \\['Cycle'\\]"):
        vorlane.Circuit("R0").fit_many(frame, by="Cycle")


BAD_FIT = ([1.0, 2.0], [1.0])  # unequal lengths
EMPTY = ([], [])  # a guess needs two points


def test_errors_raise_the_first_failure_with_its_index_and_cause():
    c = vorlane.Circuit("R0-(R1,C1)")
    with pytest.raises(ValueError) as raised:
        c.fit_many([PAIRS[0], PAIRS[1], EMPTY, PAIRS[2], EMPTY])
    assert str(raised.value) == "spectrum 2: need at least 2 frequency points to guess, got 0"
    assert isinstance(raised.value.__cause__, ValueError)
    assert str(raised.value.__cause__) == "need at least 2 frequency points to guess, got 0"


def test_unreadable_spectra_raise_before_any_fit_with_their_own_type():
    c = vorlane.Circuit("R0-(R1,C1)").with_values([1, 2, 3])
    with pytest.raises(TypeError) as raised:
        c.fit_many([PAIRS[0], ("abc", [1j])])
    assert str(raised.value).startswith("spectrum 1: ")
    assert type(raised.value.__cause__) is TypeError


def test_split_spectra_name_their_keys_in_errors():
    frame, _ = long_frame()
    frame.loc[frame["Cycle Count / 1"] == 1, "Frequency / Hz"] = -1.0
    with pytest.raises(ValueError, match=r"^spectrum 1 \(Cycle Count / 1 = 1\): no measured points"):
        vorlane.Circuit("R0-(R1,C1)").fit_many(frame, by="Cycle Count / 1")


def test_collect_puts_errors_in_place_and_fits_the_rest():
    c = vorlane.Circuit("R0-(R1,C1)")
    results = c.fit_many([EMPTY, PAIRS[0], BAD_FIT, ("abc", [1j]), PAIRS[1]], errors="collect")
    assert [type(r).__name__ for r in results] == ["ValueError", "FitResult", "ValueError", "TypeError", "FitResult"]
    assert str(results[0]) == "need at least 2 frequency points to guess, got 0"
    assert str(results[2]) == "frequencies and impedances must have the same length"
    assert bits(results[4]) == bits(c.fit(*PAIRS[1]))


def test_a_circuit_without_model_warns_once_per_batch():
    c = vorlane.Circuit("R0-L0")
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        results = c.fit_many(PAIRS[:3])
    assert len(caught) == 1 and "There is no ML model" in str(caught[0].message)
    assert all(r.success is not None for r in results)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(UserWarning):
            c.fit_many(PAIRS[:3])


def test_the_circuits_own_values_outside_their_bounds_move_with_one_warning():
    c = vorlane.Circuit("R0-(R1,CPE1)").with_values([10, 50, 1e-4, 1.5])
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        results = c.fit_many(PAIRS[:3])
        alone = [c.fit(f, z) for f, z in PAIRS[:3]]
    messages = [str(w.message) for w in caught]
    assert len(messages) == 4 and len(set(messages)) == 1 and '["CPE1.alpha"]' in messages[0]
    assert [bits(r) for r in results] == [bits(r) for r in alone]


def test_warm_start_begins_fresh_then_follows_the_previous_fit():
    c = vorlane.Circuit("R0-(R1,C1)")
    same_cell = [PAIRS[1], PAIRS[2]]  # two sweeps of one cell
    first, second = c.fit_many(same_cell, warm_start=True)
    assert bits(first) == bits(c.fit(*same_cell[0]))
    assert bits(second) == bits(first.circuit.fit(*same_cell[1], guess_init=False))


def test_warm_start_skips_over_collected_errors():
    c = vorlane.Circuit("R0-(R1,C1)")
    first, error, third = c.fit_many([PAIRS[1], EMPTY, PAIRS[2]], warm_start=True, errors="collect")
    assert isinstance(error, ValueError)
    assert bits(third) == bits(first.circuit.fit(*PAIRS[2], guess_init=False))


def test_a_warm_start_that_fits_clearly_worse_is_replaced_by_a_fresh_fit():
    # The first spectrum is exact, with a small fast arc and a large slow
    # one: its fit, the warm start, is the same on any machine. From there
    # the plain default fit of the second spectrum puts the large arc on the
    # 100 ohm one, sends the small one above the window and misses the
    # 200 ohm arc at the window's bottom, a minimum about 600 times the
    # optimum the zero-configuration fit finds; it ends there too from
    # starts moved by 1e-6 and data moved by 1e-11, far beyond rounding.
    c = vorlane.Circuit("R0-(R1,C1)-(R2,C2)")
    f = np.logspace(-1, 5, 40)
    small_and_large = c.with_values([5, 5, 2e-6, 500, 2e-4]).impedance(f)
    arcs = c.with_values([10, 100, 1e-5, 200, 1e-2]).impedance(f) * (1 + 0.01 * np.cos(np.arange(40)))
    first, second = c.fit_many([(f, small_and_large), (f, arcs)], warm_start=True)
    warm_only = first.circuit.fit(f, arcs, guess_init=False)
    fresh = c.fit(f, arcs)
    assert warm_only.cost > 100 * fresh.cost, "the case no longer tests the rule"
    # The fit kept is the fresh one (a warm fit is kept up to 1.25 times its
    # cost): its quality, and the lone fit's bits.
    assert second.cost <= 1.25 * fresh.cost
    assert bits(second) == bits(fresh)


def test_batches_from_several_threads_at_once():
    c = vorlane.Circuit("R0-(R1,CPE1)")
    expected = [bits(c.fit(f, z)) for f, z in PAIRS]
    got = {}

    def run(k):
        got[k] = [bits(r) for r in c.fit_many(PAIRS * 3)]

    threads = [threading.Thread(target=run, args=(k,)) for k in range(3)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all(got[k] == expected * 3 for k in range(3))


def run_python(code, **kwargs):
    return subprocess.run(
        [sys.executable, "-c", f"import sys; sys.path[:0] = {sys.path!r}\n" + textwrap.dedent(code)],
        capture_output=True,
        text=True,
        timeout=120,
        **kwargs,
    )


@pytest.mark.parametrize("tqdm_installed", [True, False])
def test_progress_shows_on_stderr(tqdm_installed):
    if tqdm_installed:
        pytest.importorskip("tqdm")
    block = "" if tqdm_installed else "sys.modules['tqdm'] = None"
    out = run_python(
        f"""
        {block}
        import vorlane
        results = vorlane.Circuit("R0-(R1,C1)").with_values([1, 2, 3]).fit_many(
            [([1.0, 10.0, 100.0], [3.0, 2 - 1j, 1.0])] * 5, progress=True)
        print(len(results))
        """
    )
    assert out.returncode == 0, out.stderr
    assert out.stdout == "5\n"
    assert ("5/5" in out.stderr) and (("fit_many: 5/5 spectra" in out.stderr) != tqdm_installed)


def test_ctrl_c_stops_the_batch_promptly():
    child = subprocess.Popen(
        [
            sys.executable,
            "-c",
            f"import sys; sys.path[:0] = {sys.path!r}\n"
            + textwrap.dedent(
                """
                import signal, time, numpy as np, vorlane
                # A shell starts background jobs with SIGINT ignored.
                signal.signal(signal.SIGINT, signal.default_int_handler)
                f = np.logspace(-2, 5, 60)
                c = vorlane.Circuit("R0-(R1,CPE1)-(R2,CPE2)")
                z = c.with_values([1, 10, 1e-3, 0.8, 20, 1e-2, 0.7]).impedance(f)
                print("started", flush=True)
                try:
                    c.fit_many([(f, z)] * 100000, method="nelder_mead")
                    print("finished")
                except KeyboardInterrupt:
                    print("interrupted")
                """
            ),
        ],
        stdout=subprocess.PIPE,
        text=True,
    )
    try:
        assert child.stdout.readline() == "started\n"
        time.sleep(1.0)
        child.send_signal(signal.SIGINT)
        sent = time.monotonic()
        out, _ = child.communicate(timeout=60)
        assert out == "interrupted\n"
        assert time.monotonic() - sent < 10
    finally:
        child.kill()


def test_a_warm_start_after_a_spectrum_the_circuit_cannot_fit_is_replaced():
    # Real spectra one after another: this circuit cannot fit the gamry cell,
    # and the autolab cell, warm-started from the li-ion cell's fit after it,
    # fits clearly worse than from a fresh guess.
    order = ["dummy_cell_a_1.csv", "dummy_cell_b_1.csv", "dummy_cell_c_1.csv", "gamry_cell.csv",
             "li_ion_cell.csv", "autolab_cell.csv"]
    pairs = [(s.frequencies, s.impedances) for s in map(read_spectrum, order)]
    c = vorlane.Circuit("R0-(R1,CPE1)")
    results = c.fit_many(pairs, warm_start=True)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # the fit at a bound that the warm start moves inside
        warm_only = results[-2].circuit.fit(*pairs[-1], guess_init=False)
    fresh = c.fit(*pairs[-1])
    per_point = [r.cost / len(f) for r, (f, _) in zip(results, pairs)]
    assert warm_only.cost / len(pairs[-1][0]) > 2 * np.median(per_point[:5])
    assert warm_only.cost > 1.25 * fresh.cost, "the case no longer tests the rule"
    assert bits(results[-1]) == bits(fresh)
