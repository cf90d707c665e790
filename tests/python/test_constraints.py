"""Fixed parameters, own bounds and arcs ordered by time constant: every fit
method and the guess honour them, on the bundled measured spectra."""

import math
import pickle
import warnings

import numpy as np
import pytest

import vorlane
from conftest import read_spectrum

TWO_ARCS = "R0-(R1,CPE1)-(R2,CPE2)"
# Small budgets: each global method still runs its search, polish and clean-up.
METHODS = {
    "levenberg_marquardt": {},
    "particle_swarm": dict(num_particles=20, generations=20, seed=1),
    "nelder_mead": dict(nelder_mead_iterations=200),
    "differential_evolution": dict(de_evaluations=1000),
    "simulated_annealing": dict(sa_iterations=300, seed=2),
    "basin_hopping": dict(basin_hopping_hops=2, seed=3),
}


@pytest.fixture(scope="module")
def li_ion():
    return read_spectrum("li_ion_cell.csv")


@pytest.fixture(scope="module")
def li_ion_fit(li_ion):
    """The unconstrained default fit of two (R,CPE) arcs to the Li-ion cell."""
    return vorlane.Circuit(TWO_ARCS).fit(li_ion.frequencies, li_ion.impedances)


def fit(circuit, spectrum, method, **kwargs):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", UserWarning)  # moved starts are not what these tests look at
        return circuit.fit(spectrum.frequencies, spectrum.impedances, method=method, **METHODS[method], **kwargs)


def arc_taus(values):
    """Time constants (R*Q)^(1/alpha) of the two arcs of TWO_ARCS (an
    exponent of 0 gives 0 or inf, as it does for the ordering)."""
    _, r1, q1, a1, r2, q2, a2 = np.asarray(values, dtype=float)
    with np.errstate(divide="ignore", over="ignore"):
        return np.power(r1 * q1, 1 / a1), np.power(r2 * q2, 1 / a2)


def inside(values, bounds):
    return all(lo <= v <= hi for v, (lo, hi) in zip(values, bounds))


# --- what a circuit holds and shows -------------------------------------------------------------------


def test_free_params_and_repr_show_every_constraint():
    c = (vorlane.Circuit(TWO_ARCS).with_fixed({"CPE1.alpha": 0.9, "R0.r": 0.01})
         .with_bounds({"R1.r": (1e-3, 0.5)}).with_ordered_arcs())
    assert c.free_params() == ["R1.r", "CPE1.q", "R2.r", "CPE2.q", "CPE2.alpha"]
    assert c.param_values()[0] == 0.01 and c.param_values()[3] == 0.9
    lines = repr(c).split("\n")
    assert lines[0] == "Circuit (7 parameters, 2 fixed, arcs ordered by time constant)"
    assert lines[1] == "  R0.r       = 0.01       [ohm]  fixed"
    assert lines[2] == "  R1.r       = 1          [ohm]  own bounds (0.001, 0.5)"
    assert lines[3] == "  CPE1.q     = 0.001      [ohm^-1*s^alpha]  bounds (1e-12, inf)"
    assert lines[4] == "  CPE1.alpha = 0.9        [-]  fixed"
    # Default bounds stay what param_bounds() reports; the table shows the ones a fit uses.
    assert c.param_bounds()[1] == (1e-12, math.inf)
    plain = vorlane.Circuit(TWO_ARCS)
    assert plain.free_params() == plain.param_names()
    assert repr(plain).split("\n")[0] == "Circuit (7 parameters)"


def test_a_list_of_names_holds_the_current_values_and_values_keep_the_constraints():
    c = vorlane.Circuit("R0-(R1,C1)").with_values([5, 100, 1e-5]).with_fixed(["R0.r"])
    assert c.param_values() == [5, 100, 1e-5] and c.free_params() == ["R1.r", "C1.c"]
    moved = c.with_values([7, 50, 1e-6])
    assert moved.free_params() == ["R1.r", "C1.c"] and moved.param_values()[0] == 7
    named = c.with_named_values({"R0.r": 3, "R1.r": 1, "C1.c": 1e-3})
    assert "fixed" in repr(named).split("\n")[1]
    # with_bounds(None) gives the default bounds back; ordered=False drops the ordering.
    b = c.with_bounds({"R1.r": (1, 10)}).with_bounds({"R1.r": None})
    assert repr(b) == repr(c)
    o = vorlane.Circuit(TWO_ARCS).with_ordered_arcs().with_ordered_arcs(False)
    assert repr(o) == repr(vorlane.Circuit(TWO_ARCS))


def test_composition_keeps_each_parts_constraints():
    left = vorlane.Circuit("R0-(R1,C1)").with_fixed({"R0.r": 2.0})
    right = vorlane.Circuit("(R2,C2)").with_bounds({"R2.r": (1, 10)})
    s = vorlane.Series([left, vorlane.R(3.0), right])
    assert s.free_params() == ["R1.r", "C1.c", "R0.r", "R2.r", "C2.c"]
    rows = repr(s).split("\n")
    assert rows[1].endswith("fixed") and rows[4].endswith("[ohm]  bounds (1e-12, inf)")
    assert rows[5].endswith("own bounds (1, 10)")
    p = vorlane.Parallel([left, right])
    assert p.free_params() == ["R1.r", "C1.c", "R2.r", "C2.c"]


# --- refusals ----------------------------------------------------------------------------------------


@pytest.mark.parametrize("call, message", [
    (lambda c: c.with_fixed({"R9.r": 1.0}), 'unknown parameter "R9.r" (did you mean "R0.r"?)\n\n'
                                            "valid parameters for this circuit:\n  R0.r        [ohm]"),
    (lambda c: c.with_bounds({"CPE.alpha": (0.1, 0.9)}), 'unknown parameter "CPE.alpha" (did you mean "CPE1.alpha"?)'),
    (lambda c: c.with_fixed(["R1.r", "bogus"]), 'unknown parameter "bogus"\n\nvalid parameters'),
    (lambda c: c.with_fixed({"CPE1.alpha": 1.2}), 'cannot fix "CPE1.alpha" at 1.2: it lies outside its bounds (0, 1)'),
    (lambda c: c.with_fixed({"R0.r": float("nan")}), 'cannot fix "R0.r" at NaN: a fixed value must be finite'),
    (lambda c: c.with_fixed({"R0.r": 0.0}), 'cannot fix "R0.r" at 0: it lies outside its bounds (1e-12, inf)'),
    (lambda c: c.with_bounds({"CPE1.alpha": (0.5, 1.2)}),
     'bounds (0.5, 1.2) for "CPE1.alpha": the upper bound is above the physical range (0, 1) of the parameter'),
    (lambda c: c.with_bounds({"R1.r": (0, 5)}),
     'bounds (0, 5) for "R1.r": the lower bound is below the physical range (1e-12, inf) of the parameter'),
    (lambda c: c.with_bounds({"R1.r": (5, 2)}), 'bounds (5, 2) for "R1.r": the lower bound must be below the upper'),
    (lambda c: c.with_bounds({"R1.r": (5, 5)}), "(use with_fixed to hold a value)"),
    (lambda c: c.with_bounds({"R1.r": (float("nan"), 2)}), 'bounds (NaN, 2) for "R1.r": both ends must be numbers'),
    (lambda c: c.with_fixed({"R1.r": 50.0}).with_bounds({"R1.r": (1, 10)}),
     'cannot fix "R1.r" at 50: it lies outside its bounds (1, 10)'),
    (lambda c: c.with_bounds({"R1.r": (1, 10)}).with_fixed({"R1.r": 50.0}),
     'cannot fix "R1.r" at 50: it lies outside its bounds (1, 10)'),
    (lambda c: c.with_fixed(["R0.r"]).with_values([math.inf, 1, 1, 0.5]),
     'cannot fix "R0.r" at inf: a fixed value must be finite'),
    (lambda c: vorlane.Circuit("R0-(R1,C1)-W1").with_ordered_arcs(),
     "this circuit has no interchangeable arcs to order"),
    # (R,C) and (C,R) are shapes of their own.
    (lambda c: vorlane.Circuit("(R1,C1)-(C2,R2)").with_ordered_arcs(),
     "this circuit has no interchangeable arcs to order"),
])
def test_refusals_say_which_and_why(call, message):
    with pytest.raises(ValueError) as error:
        call(vorlane.Circuit("R0-(R1,CPE1)"))
    assert message in str(error.value)


@pytest.mark.parametrize("call", [
    lambda c: c.with_fixed("R0.r"),
    lambda c: c.with_fixed([1.0]),
    lambda c: c.with_fixed({"R0.r": "x"}),
    lambda c: c.with_bounds(["R0.r"]),
    lambda c: c.with_bounds({"R0.r": (1, 2, 3)}),
    lambda c: c.with_bounds({"R0.r": "ab"}),
    lambda c: c.with_bounds({1: (1, 2)}),
])
def test_wrong_types_are_type_errors_naming_the_argument(call):
    with pytest.raises(TypeError, match="argument '(values|bounds)'"):
        call(vorlane.Circuit("R0-(R1,CPE1)"))


def test_a_circuit_with_every_parameter_fixed_has_nothing_to_fit(li_ion):
    c = vorlane.Circuit("R0-(R1,C1)").with_fixed(["R0.r", "R1.r", "C1.c"])
    with pytest.raises(ValueError, match="every parameter of this circuit is fixed: there is nothing to fit"):
        c.fit(li_ion.frequencies, li_ion.impedances)


# --- fits ---------------------------------------------------------------------------------------------


@pytest.mark.parametrize("alpha", [1.0, 0.9])
@pytest.mark.parametrize("method", METHODS)
def test_fixed_exponents_end_exactly_at_their_values(li_ion, li_ion_fit, method, alpha):
    c = li_ion_fit.circuit.with_fixed({"CPE1.alpha": alpha, "CPE2.alpha": alpha})
    res = fit(c, li_ion, method)
    assert res.params["CPE1.alpha"] == alpha and res.params["CPE2.alpha"] == alpha
    assert res.circuit.param_values()[3] == alpha and res.circuit.param_values()[6] == alpha
    assert res.stderr is None or (res.stderr["CPE1.alpha"] is None and res.stderr["CPE2.alpha"] is None)
    assert res.success and np.isfinite(res.cost)
    # The result's circuit keeps the constraints: fitting it again holds them too.
    assert res.circuit.free_params() == ["R0.r", "R1.r", "CPE1.q", "R2.r", "CPE2.q"]
    # Holding a parameter can only cost fit quality, never improve on the free optimum.
    assert res.cost >= li_ion_fit.cost * (1 - 1e-9)


def test_fixed_parameters_have_no_standard_error_and_the_free_ones_are_sound(dummy_cell_a):
    f, z = dummy_cell_a.frequencies, dummy_cell_a.impedances
    free_fit = vorlane.Circuit("R0-(R1,C1)").fit(f, z)
    held = free_fit.circuit.with_fixed(["R0.r"])
    res = held.fit(f, z)
    # Held at its optimum, R0 leaves the others where the free fit put them.
    assert res.params == pytest.approx(free_fit.params, rel=1e-4)
    assert res.params["R0.r"] == free_fit.params["R0.r"]
    assert res.stderr["R0.r"] is None
    # The others' errors come from a fit of six parameters: the reduced
    # chi-square has one more degree of freedom, and the inverse of the
    # smaller normal matrix has no larger diagonal, so each error is at most
    # the free fit's (up to the slightly different end point).
    m = 2 * len(f)
    for name in held.free_params():
        assert 0 < res.stderr[name] <= free_fit.stderr[name] * math.sqrt((m - 3) / (m - 2)) * 1.01


@pytest.mark.parametrize("method", METHODS)
def test_own_bounds_are_never_left(li_ion, li_ion_fit, method):
    r1 = li_ion_fit.params["R1.r"]
    own = {"R1.r": (r1 / 10, r1 / 2), "CPE2.alpha": (0.3, 0.7), "CPE1.q": (1e-3, 1.0)}
    res = fit(li_ion_fit.circuit.with_bounds(own), li_ion, method)
    bounds = dict(zip(li_ion_fit.circuit.param_names(), li_ion_fit.circuit.param_bounds()), **own)
    assert all(bounds[n][0] <= v <= bounds[n][1] for n, v in res.params.items())
    assert res.cost > li_ion_fit.cost


@pytest.mark.parametrize("method", METHODS)
def test_an_own_bound_active_at_the_optimum_is_met(dummy_cell_a, method):
    """R1 fits at about 46.7 ohm; held below 30 ohm, every method ends on 30."""
    res = fit(vorlane.Circuit("R0-(R1,C1)").with_bounds({"R1.r": (10, 30)}), dummy_cell_a, method)
    assert res.params["R1.r"] == pytest.approx(30, rel=1e-9)
    assert res.success


@pytest.mark.parametrize("method", METHODS)
def test_a_start_outside_an_own_bound_is_moved_inside_with_a_warning(li_ion, li_ion_fit, method):
    c = li_ion_fit.circuit.with_bounds({"R2.r": (1.0, 2.0)})
    with pytest.warns(UserWarning, match='moved inside.*"R2.r"'):
        res = c.fit(li_ion.frequencies, li_ion.impedances, method=method, **METHODS[method])
    assert 1.0 <= res.params["R2.r"] <= 2.0


# Differential evolution seeds itself from the operating system: no two of its runs agree.
@pytest.mark.parametrize("method", [m for m in METHODS if m != "differential_evolution"])
def test_neutral_constraints_change_no_bit_of_any_fit(li_ion, li_ion_fit, method):
    plain = li_ion_fit.circuit.with_values([v * 1.2 for v in li_ion_fit.circuit.param_values()])
    defaults = dict(zip(plain.param_names(), plain.param_bounds()))
    neutral = plain.with_bounds(defaults).with_fixed([])
    a, b = fit(plain, li_ion, method), fit(neutral, li_ion, method)
    assert [x.hex() for x in a.circuit.param_values()] == [x.hex() for x in b.circuit.param_values()]
    assert (a.cost, a.iterations, a.impedance_evals) == (b.cost, b.iterations, b.impedance_evals)
    assert repr(a.stderr) == repr(b.stderr)  # NaN included


# --- the guess ----------------------------------------------------------------------------------------


def test_the_guess_keeps_fixed_values_and_respects_own_bounds(li_ion):
    plain = vorlane.Circuit(TWO_ARCS).guess(li_ion.frequencies, li_ion.impedances)
    c = vorlane.Circuit(TWO_ARCS).with_fixed({"CPE1.alpha": 0.9})
    held = c.guess(li_ion.frequencies, li_ion.impedances)
    assert held[3] == 0.9 and held[:3] + held[4:] == plain[:3] + plain[4:]
    lo, hi = plain[1] * 2, plain[1] * 4
    bounded = vorlane.Circuit(TWO_ARCS).with_bounds({"R1.r": (lo, hi)}).guess(li_ion.frequencies, li_ion.impedances)
    assert lo <= bounded[1] <= hi
    # A fit from the guess of a circuit with a fixed exponent holds it and warns of nothing.
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        res = c.fit(li_ion.frequencies, li_ion.impedances)
    assert res.params["CPE1.alpha"] == 0.9


# --- arcs ordered by time constant --------------------------------------------------------------------


def swapped(values):
    """The same circuit with its two arcs traded: the impedance is unchanged."""
    return [values[0], *values[4:7], *values[1:4]]


def test_two_arcs_swap_without_ordering_and_not_with_it(li_ion, li_ion_fit):
    fast_first = li_ion_fit.circuit.param_values()
    tau1, tau2 = arc_taus(fast_first)
    if tau1 > tau2:
        fast_first = swapped(fast_first)
    slow_first = vorlane.Circuit(TWO_ARCS).with_values([v * 1.1 for v in swapped(fast_first)])
    for method in METHODS:
        free = fit(slow_first, li_ion, method)
        ordered = fit(slow_first.with_ordered_arcs(), li_ion, method)
        t_free = arc_taus(free.circuit.param_values())
        t_ordered = arc_taus(ordered.circuit.param_values())
        assert t_ordered[0] < t_ordered[1], method  # ordered: R1 is the fast arc
        if method == "differential_evolution":
            continue  # seeded from the operating system: its labels need not follow the start
        assert t_free[0] > t_free[1], method      # the labels follow the start
        assert ordered.cost == pytest.approx(free.cost, rel=1e-9), method
        # Every output follows the order: values, params, standard errors.
        values = ordered.circuit.param_values()
        assert [ordered.params[n] for n in ordered.circuit.param_names()] == values
        if free.stderr and ordered.stderr:
            assert repr(ordered.stderr["R1.r"]) == repr(free.stderr["R2.r"])  # NaN included


def test_ordered_arcs_are_ordered_in_every_spectrum_of_a_series():
    """200 synthetic two-arc spectra whose fast arc is given to R1 or R2 at
    random in the start: without ordering the labels follow the start, with
    it R1 is the fast arc in every one."""
    rng = np.random.default_rng(17)
    f = np.logspace(-2, 5, 36)
    circuit = vorlane.Circuit(TWO_ARCS)
    ordered_count = {False: 0, True: 0}
    for _ in range(200):
        fast = [rng.uniform(0.005, 0.05), 10 ** rng.uniform(-5, -3.5), rng.uniform(0.75, 0.95)]
        slow = [rng.uniform(0.01, 0.1), 10 ** rng.uniform(-1.5, 0), rng.uniform(0.6, 0.9)]
        truth = [rng.uniform(0.01, 0.05), *fast, *slow]
        z = circuit.with_values(truth).impedance(f)
        z = z * (1 + 0.002 * rng.standard_normal(len(f)))
        start = truth if rng.random() < 0.5 else swapped(truth)
        start = [min(v * rng.uniform(0.9, 1.1), 0.99) if i in (3, 6) else v * rng.uniform(0.9, 1.1)
                 for i, v in enumerate(start)]
        for ordered in (False, True):
            c = circuit.with_values(start)
            if ordered:
                c = c.with_ordered_arcs()
            res = c.fit(f, z)
            tau1, tau2 = arc_taus(res.circuit.param_values())
            ordered_count[ordered] += bool(tau1 <= tau2 or np.isnan(tau2))
    assert ordered_count[True] == 200
    assert 60 < ordered_count[False] < 140


@pytest.mark.parametrize("text, values, order", [
    ("R0-(R1,C1)-(R2,C2)", [1, 10, 1e-3, 1, 1e-6], [0, 3, 4, 1, 2]),
    ("(C1,R1)-(C2,R2)", [1e-3, 10, 1e-6, 1], [2, 3, 0, 1]),
    ("R0-Zarc1-Zarc2-Zarc3", [1, 5, 1e-1, 0.8, 6, 1e-5, 0.9, 7, 1e-3, 0.7],
     [0, 4, 5, 6, 7, 8, 9, 1, 2, 3]),
    ("K1-K2", [1, 2e-3, 2, 1e-3], [2, 3, 0, 1]),
    ("(R1,L1)-(R2,L2)", [1, 1e-3, 1, 1e-6], [2, 3, 0, 1]),
])
def test_each_shape_is_ordered_by_its_time_constant(text, values, order):
    c = vorlane.Circuit(text).with_values(values)
    f = np.logspace(-3, 6, 30)
    z = c.impedance(f)
    res = c.with_ordered_arcs().fit(f, z, guess_init=False)
    assert res.circuit.param_values() == pytest.approx([values[i] for i in order], rel=1e-5)


def test_members_with_different_constraints_keep_their_places(li_ion, li_ion_fit):
    start = vorlane.Circuit(TWO_ARCS).with_values(swapped(li_ion_fit.circuit.param_values()))
    held = start.with_fixed(["CPE1.alpha"]).with_ordered_arcs()
    res = held.fit(li_ion.frequencies, li_ion.impedances)
    assert res.params["CPE1.alpha"] == start.param_values()[3]


# --- pickling, fit_many and the results table carry the constraints --------------------------------


def constrained():
    return (vorlane.Circuit(TWO_ARCS).with_values([0.015, 0.017, 3.9, 0.62, 0.03, 300.0, 0.56])
            .with_fixed({"CPE1.alpha": 0.9}).with_bounds({"R0.r": (0.01, 0.02)}).with_ordered_arcs())


def test_pickling_keeps_fixed_values_own_bounds_and_the_ordering(li_ion, dummy_cell_a):
    c = constrained()
    back = pickle.loads(pickle.dumps(c))
    assert repr(back) == repr(c) and back.free_params() == c.free_params()
    assert back.fit(li_ion.frequencies, li_ion.impedances).params == c.fit(li_ion.frequencies, li_ion.impedances).params
    held = vorlane.Circuit("R0-(R1,C1)").with_fixed({"R0.r": 29.0}).with_bounds({"R1.r": (10.0, 100.0)})
    res = held.fit(dummy_cell_a.frequencies, dummy_cell_a.impedances)
    again = pickle.loads(pickle.dumps(res))
    assert repr(again.circuit) == repr(res.circuit) and "own bounds (10, 100)" in repr(again.circuit)
    assert again.stderr == res.stderr and again.stderr["R0.r"] is None and again.params == res.params


@pytest.mark.parametrize("state, message", [
    ({"fixed": (True,), "bounds": (), "ordered_arcs": False}, "fixed must have one entry per parameter"),
    ({"fixed": (), "bounds": ((5.0, 1.0), None, None), "ordered_arcs": False}, "lower bound must be below"),
    ({"fixed": (), "bounds": (), "ordered_arcs": 1}, "ordered_arcs must be a bool"),
    ({"fixed": (), "bounds": ((1, 2), None, None), "ordered_arcs": False}, "pairs of floats"),
])
def test_a_tampered_constraint_state_is_refused(state, message):
    _, (good,) = vorlane.Circuit("R0-(R1,C1)").__reduce__()
    with pytest.raises(ValueError, match=message):
        vorlane.Circuit._from_state({**good, "constraints": state})


def test_fit_many_honours_the_constraints_with_and_without_warm_starts():
    rng = np.random.default_rng(5)
    f = np.logspace(-2, 5, 36)
    circuit = vorlane.Circuit(TWO_ARCS)
    spectra = []
    for _ in range(8):
        truth = [0.02, 0.02, 10 ** rng.uniform(-5, -4), 0.9, 0.05, 10 ** rng.uniform(-1, 0), 0.8]
        spectra.append((f, circuit.with_values(truth).impedance(f)))
    held = circuit.with_fixed({"CPE1.alpha": 0.9}).with_bounds({"R0.r": (0.01, 0.015)}).with_ordered_arcs()
    for warm in (False, True):
        results = held.fit_many(spectra, warm_start=warm)
        for res in results:
            assert res.params["CPE1.alpha"] == 0.9 and res.stderr["CPE1.alpha"] is None
            assert 0.01 <= res.params["R0.r"] <= 0.015
            tau1, tau2 = arc_taus(res.circuit.param_values())
            assert tau1 < tau2
            assert res.circuit.free_params() == held.free_params()
    # Side by side, each result is the lone fit's.
    alone = held.fit(*spectra[3])
    assert held.fit_many(spectra)[3].params == alone.params


def test_the_results_table_shows_a_fixed_parameter_without_standard_error():
    pd = pytest.importorskip("pandas")
    c = vorlane.Circuit("R0-(R1,C1)").with_fixed({"R0.r": 29.0})
    d = read_spectrum("dummy_cell_a_1.csv")
    table = vorlane.results_table(c.fit_many([(d.frequencies, d.impedances)]))
    assert table["R0.r"][0] == 29.0 and pd.isna(table["R0.r_stderr"][0])
    assert table["R1.r_stderr"][0] > 0
