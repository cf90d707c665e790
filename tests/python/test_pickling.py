"""pickle, copy and deepcopy of every public object: round trips give the
same string form, the same values to the bit and the same explicit-values
flag (the immutable objects are their own copies); hostile states are
refused with clear errors."""

import copy
import pickle
import struct
import warnings

import numpy as np
import pytest

import vorlane
from vorlane import Circuit, Element, Parallel, Series

SPECIAL = [1e-300, -0.0, float("nan"), float("inf"), -5e-324, 2.5]
FIELD_COUNTS = {"R": 1, "C": 1, "L": 1, "La": 2, "Cpe": 2, "W": 1, "Wo": 2, "Ws": 2, "G": 2, "Gs": 3, "K": 2,
                "Zarc": 3, "Tlmq": 3, "T": 4}
ROUND_TRIPS = {
    **{f"pickle{protocol}": (lambda o, p=protocol: pickle.loads(pickle.dumps(o, protocol=p)))
       for protocol in range(pickle.HIGHEST_PROTOCOL + 1)},
    "copy": copy.copy,
    "deepcopy": copy.deepcopy,
}


def test_copies_are_the_objects_themselves():
    for obj in [vorlane.R(1), Circuit("R0"), Circuit("R0").fit([1.0, 2.0], [1.0, 1.0], guess_init=False)]:
        assert copy.copy(obj) is obj and copy.deepcopy(obj) is obj and copy.deepcopy([obj])[0] is obj


def bits(values):
    return [struct.pack("<d", v) for v in values]


def bits_any_nan(values):
    """bits, with every NaN alike: protocol 0 writes floats as text, which
    keeps no sign or payload of a NaN (a standard error of a singular fit)."""
    return [b"nan" if v != v else struct.pack("<d", v) for v in values]


def element_values(element):
    return [getattr(element, name) for name in type(element).__match_args__]


def same_circuit(a, b):
    f = [0.1, 1.0, 1e3]
    with np.errstate(all="ignore"):
        za, zb = a.impedance(f), b.impedance(f)
    return (repr(a) == repr(b) and a.param_names() == b.param_names()
            and bits(a.param_values()) == bits(b.param_values())
            and bits(za.real) + bits(za.imag) == bits(zb.real) + bits(zb.imag))


def guesses_by_default(circuit):
    """The explicit-values flag as fit sees it: a circuit without a bundled
    model warns when it would guess."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        circuit.fit([1.0, 10.0, 100.0], [1.0, 2.0, 3.0], method="nelder_mead", nelder_mead_iterations=5)
    return len(caught) == 1


@pytest.mark.parametrize("how", ROUND_TRIPS.values(), ids=ROUND_TRIPS.keys())
@pytest.mark.parametrize("name", FIELD_COUNTS)
def test_every_element_kind_with_special_values(name, how):
    cls = getattr(vorlane, name)
    for start in range(len(SPECIAL)):
        element = cls(*[SPECIAL[(start + i) % len(SPECIAL)] for i in range(FIELD_COUNTS[name])])
        back = how(element)
        assert type(back) is cls and repr(back) == repr(element)
        assert bits(element_values(back)) == bits(element_values(element))


def test_element_classes_pickle_by_reference():
    for name in FIELD_COUNTS:
        cls = getattr(Element, name)
        assert pickle.loads(pickle.dumps(cls)) is cls
        assert cls.__qualname__ == f"Element.{name}" and cls.__name__ == f"Element_{name}"


CIRCUITS = {
    "parsed": lambda: Circuit("L0-R0-(R1,CPE1)-(R2-Wo2,CPE2)-Gs3-T4"),
    "special values": lambda: Circuit("R0-(R1,C1)-Zarc2").with_values([1e-300, -0.0, float("nan"), 1.0, 2.0, 0.5]),
    "composed, no labels": lambda: Series([vorlane.R(1), Parallel([vorlane.C(1e-6), Series([vorlane.La(1, 0.5)])])]),
    "composed, placeholders kept": lambda: Parallel([Circuit("R0-L0"), vorlane.K(1, 2)]),
    "empty series": lambda: Series([]),
    "empty parallel": lambda: Parallel([]),
    "empty branch": lambda: Parallel([Series([])]),
    "deepest parsed nesting": lambda: Circuit("(" * 255 + "R0,C0" + ")" * 255),
}


@pytest.mark.parametrize("how", ROUND_TRIPS.values(), ids=ROUND_TRIPS.keys())
@pytest.mark.parametrize("make", CIRCUITS.values(), ids=CIRCUITS.keys())
def test_circuits_round_trip_with_their_flag(make, how):
    circuit = make()
    back = how(circuit)
    assert type(back) is Circuit and same_circuit(back, circuit)


@pytest.mark.parametrize("circuit, flag", [(Circuit("R0-L0"), False), (Circuit("R0-L0").with_values([1, 1e-6]), True),
                                           (Series([Circuit("R0-L0"), vorlane.R(1)]), False)])
def test_the_explicit_values_flag_survives(circuit, flag):
    assert guesses_by_default(circuit) is not flag
    for how in ROUND_TRIPS.values():
        assert guesses_by_default(how(circuit)) is not flag


def test_a_circuit_nested_deeper_than_can_be_read_back_refuses_to_pickle():
    circuit = vorlane.R(1)
    for _ in range(257):
        circuit = Parallel([circuit])
    with pytest.raises(ValueError, match="deeper than 256 levels"):
        pickle.dumps(circuit)


def fit_results():
    f = np.logspace(-1, 4, 30)
    c = Circuit("R0-(R1,C1)")
    z = c.with_values([10, 100, 1e-4]).impedance(f) * (1 + 0.01 * np.sin(np.arange(30)))
    return {
        "with stderr": c.fit(f, z),
        "without stderr": c.with_values([1, 2, 3]).fit(f[:2], z[:2]),
        "repeated name": Series([vorlane.R(1), vorlane.R(2)]).fit(f, z, guess_init=False),
        "global method": c.fit(f, z, method="particle_swarm", num_particles=8, generations=5, seed=1),
    }


@pytest.mark.parametrize("how", ROUND_TRIPS.values(), ids=ROUND_TRIPS.keys())
def test_fit_results_round_trip(how):
    for name, result in fit_results().items():
        back = how(result)
        assert repr(back) == repr(result), name
        assert back.params.keys() == result.params.keys()
        assert bits(back.params.values()) == bits(result.params.values())
        assert (back.stderr is None) == (result.stderr is None)
        if result.stderr is not None:
            assert bits_any_nan(back.stderr.values()) == bits_any_nan(result.stderr.values())
        assert bits([back.cost, back.chi_square]) == bits([result.cost, result.chi_square])
        assert (back.success, back.iterations, back.impedance_evals) == (
            result.success, result.iterations, result.impedance_evals)
        assert same_circuit(back.circuit, result.circuit)


def test_fit_many_results_cross_processes_with_multiprocessing():
    import multiprocessing

    f = np.logspace(-1, 4, 30)
    c = Circuit("R0-(R1,C1)")
    spectra = [(f, c.with_values([10, 100 * k, 1e-4]).impedance(f)) for k in (1, 2)]
    with multiprocessing.get_context("spawn").Pool(1) as pool:
        remote = pool.starmap(c.fit, spectra)
    assert [repr(r) for r in remote] == [repr(r) for r in c.fit_many(spectra)]


GOOD_NODES = (("R", "R0", (1.0,)), ("p", ((("C", None, (2.0,)),), ())))


@pytest.mark.parametrize(
    "state, error, message",
    [
        ([], TypeError, "Circuit state must be a dict, got 'list'"),
        ({"nodes": ()}, ValueError, 'Circuit state has no "explicit_values" entry'),
        ({"nodes": (), "explicit_values": True, "fixed": ()}, ValueError, "does not know: ['fixed']"),
        ({"nodes": (), "explicit_values": 1}, ValueError, "explicit_values must be a bool"),
        ({"nodes": [], "explicit_values": True}, ValueError, "a series must be a tuple of nodes"),
        ({"nodes": (("CPE", "Q", (1.0, 0.5)),), "explicit_values": True}, ValueError, 'unknown element code "CPE"'),
        ({"nodes": (("R", "R0", (1.0, 2.0)),), "explicit_values": True}, ValueError, "needs a tuple of 1 floats"),
        ({"nodes": (("R", "R0", (1,)),), "explicit_values": True}, ValueError, "element values must be floats"),
        ({"nodes": (("R", 0, (1.0,)),), "explicit_values": True}, ValueError, "a label must be a str or None"),
        ({"nodes": (("q", ()),), "explicit_values": True}, ValueError, 'or ("p", branches)'),
        ({"nodes": ((1, 2, 3),), "explicit_values": True}, ValueError, "a node must be a tuple starting with a str"),
        ({"nodes": (("R", "\ud800", (1.0,)),), "explicit_values": True}, UnicodeEncodeError, "surrogates"),
    ],
)
def test_hostile_circuit_states_are_refused(state, error, message):
    with pytest.raises(error) as raised:
        Circuit._from_state(state)
    assert message in str(raised.value)


def test_state_nesting_is_bounded():
    nodes = (("R", "R0", (1.0,)),)
    for _ in range(300):
        nodes = (("p", (nodes,)),)
    with pytest.raises(ValueError, match="nested deeper than 256 levels"):
        Circuit._from_state({"nodes": nodes, "explicit_values": True})
    assert Circuit._from_state({"nodes": GOOD_NODES, "explicit_values": False}).param_names() == ["R0.r", "C0.c"]


@pytest.mark.parametrize(
    "change, message",
    [
        ({"params": [("R0.r", 1.0)]}, "params and stderr must be tuples of (name, value) pairs"),
        ({"stderr": (("R0.r", "x"),)}, "params and stderr must be tuples of (name, value) pairs"),
        ({"success": 1}, "success must be a bool"),
        ({"iterations": 1.0}, "iterations and impedance_evals must be ints"),
        ({"cost": 1}, "cost and chi_square must be floats"),
    ],
)
def test_hostile_fit_result_states_are_refused(change, message):
    result = fit_results()["with stderr"]
    restore, (state,) = result.__reduce__()
    with pytest.raises(ValueError) as raised:
        restore({**state, **change})
    assert message in str(raised.value)
    with pytest.raises(OverflowError):
        restore({**state, "impedance_evals": -1})
