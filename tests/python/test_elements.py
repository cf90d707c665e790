"""Element classes and the Series/Parallel composition functions."""

import math
import warnings

import numpy as np
import pytest

import vorlane
from vorlane import C, Circuit, Cpe, Element, Gs, Parallel, R, Series, T

FIELDS = {
    "R": ("r",),
    "C": ("c",),
    "L": ("l",),
    "La": ("l", "alpha"),
    "Cpe": ("q", "alpha"),
    "W": ("aw",),
    "Wo": ("z0", "tau"),
    "Ws": ("z0", "tau"),
    "G": ("rg", "tg"),
    "Gs": ("rg", "tg", "phi"),
    "K": ("r", "tau_k"),
    "Zarc": ("r", "tau_k", "gamma"),
    "Tlmq": ("r_ion", "qs", "gamma"),
    "T": ("a", "b", "k_tau", "tau"),
}
CODES = {"Cpe": "CPE", "Tlmq": "TLMQ"}
VARIANTS = list(FIELDS.items())
FREQUENCIES = np.logspace(-2, 5, 30)


def bits(z):
    return np.ascontiguousarray(z).view(np.uint64)


def has_explicit_values(circuit):
    """The explicit-values flag, seen through fit's starting-point decision:
    placeholder values on a topology without a bundled model make fit warn
    before it looks at the method name."""
    with warnings.catch_warnings():
        warnings.simplefilter("error", UserWarning)
        try:
            circuit.fit([1.0, 10.0], [1.0, 1.0], method="no_such_method")
        except UserWarning:
            return False
        except ValueError:
            return True
    raise AssertionError("fit accepted an unknown method")


# --- the Element family ----------------------------------------------------------


def test_element_has_no_constructor():
    with pytest.raises(TypeError) as caught:
        Element()
    assert str(caught.value) == "No constructor defined for Element"
    with pytest.raises(TypeError, match="^No constructor defined for Element$"):
        Element(1.0)


def test_element_docstring():
    assert Element.__doc__ == (
        "A single circuit element.\n\n"
        "These are Python subclasses taking its fields as arguments.\n"
        "They are combined with `Series()` and `Parallel()`."
    )


@pytest.mark.parametrize("name, fields", VARIANTS)
def test_variant_class(name, fields):
    cls = getattr(Element, name)
    assert cls is getattr(vorlane, name)
    assert cls.__name__ == f"Element_{name}"
    assert issubclass(cls, Element)
    assert cls.__match_args__ == fields
    assert cls.__text_signature__ == "(" + ", ".join(fields) + ")"
    assert not cls.__doc__


@pytest.mark.parametrize("name, fields", VARIANTS)
def test_variant_construction_by_position_and_keyword(name, fields):
    cls = getattr(Element, name)
    values = [1.5 * (i + 1) for i in range(len(fields))]
    by_position = cls(*values)
    by_keyword = cls(**dict(zip(fields, values)))
    for element in (by_position, by_keyword):
        assert isinstance(element, cls) and isinstance(element, Element)
        assert [getattr(element, f) for f in fields] == values
        assert all(type(getattr(element, f)) is float for f in fields)
    mixed = cls(*values[:1], **dict(zip(fields[1:], values[1:])))
    assert repr(mixed) == repr(by_position)


@pytest.mark.parametrize("name, fields", VARIANTS)
def test_variant_argument_errors(name, fields):
    cls = getattr(Element, name)
    values = [1.0] * len(fields)
    with pytest.raises(TypeError):
        cls(*values[:-1])
    with pytest.raises(TypeError):
        cls(*values, 1.0)
    with pytest.raises(TypeError):
        cls(*values, bogus=1.0)
    with pytest.raises(TypeError):
        cls(*values, **{fields[0]: 1.0})
    for i, field in enumerate(fields):
        bad = list(values)
        bad[i] = "x"
        with pytest.raises(TypeError, match=f"argument '{field}'"):
            cls(*bad)


@pytest.mark.parametrize("value", [1, np.float32(1.0), np.int64(1), True, type("F", (), {"__float__": lambda s: 1.0})()])
def test_fields_accept_anything_float_converts(value):
    assert R(value).r == 1.0


@pytest.mark.parametrize("value", [None, "1", 1j, [1.0], object()])
def test_fields_refuse_what_float_refuses(value):
    with pytest.raises(TypeError, match="argument 'r'"):
        R(value)


def test_fields_are_read_only():
    element = Cpe(0.001, 0.8)
    with pytest.raises(AttributeError):
        element.q = 1.0
    with pytest.raises(AttributeError):
        element.other = 1.0
    with pytest.raises(TypeError):
        Element.R = None
    assert (element.q, element.alpha) == (0.001, 0.8)


@pytest.mark.parametrize(
    "element, text",
    [
        (Cpe(0.001, 0.8), "Element.Cpe(q=0.001, alpha=0.8)"),
        (C(1e-6), "Element.C(c=1e-6)"),
        (T(1, 2, 3, 4), "Element.T(a=1.0, b=2.0, k_tau=3.0, tau=4.0)"),
        (R(1e16), "Element.R(r=1e16)"),
        (R(9999999999999998.0), "Element.R(r=9999999999999998.0)"),
        (R(0.0001), "Element.R(r=0.0001)"),
        (R(2.5e-5), "Element.R(r=2.5e-5)"),
        (R(12345.5), "Element.R(r=12345.5)"),
        (R(1234567.0), "Element.R(r=1234567.0)"),
        (R(-0.0), "Element.R(r=-0.0)"),
        (R(0.0), "Element.R(r=0.0)"),
        (R(-3), "Element.R(r=-3.0)"),
        (R(math.nan), "Element.R(r=NaN)"),
        (R(math.inf), "Element.R(r=inf)"),
        (R(-math.inf), "Element.R(r=-inf)"),
        (R(5e-324), "Element.R(r=5e-324)"),
        (Gs(1.7976931348623157e308, 0.1, 1e-300), "Element.Gs(rg=1.7976931348623157e308, tg=0.1, phi=1e-300)"),
    ],
)
def test_element_repr(element, text):
    assert repr(element) == text


def test_match_statement_binds_fields_in_order():
    def describe(element):
        match element:
            case Element.T(a, b, k_tau, tau):
                return ("T", a, b, k_tau, tau)
            case Element.Cpe(q, alpha=alpha):
                return ("Cpe", q, alpha)
            case Element.R(r) if r < 0:
                return ("negative R", r)
            case Element():
                return ("other",)

    assert describe(T(1, 2, 3, 4)) == ("T", 1.0, 2.0, 3.0, 4.0)
    assert describe(Cpe(0.5, 0.25)) == ("Cpe", 0.5, 0.25)
    assert describe(R(-1)) == ("negative R", -1.0)
    assert describe(R(1)) == ("other",)


# --- composition ---------------------------------------------------------------------


def test_series_of_elements():
    c = Series([R(1), C(1e-3)])
    assert c.param_names() == ["R0.r", "C0.c"]
    assert c.param_values() == [1.0, 0.001]
    assert isinstance(c, Circuit)


@pytest.mark.parametrize(
    "composed, names",
    [
        (Series([R(10), Parallel([R(100), C(1e-5)])]), ["R0.r", "R1.r", "C0.c"]),
        (Series([R(1), Cpe(1, 0.5), R(2), Cpe(2, 0.5)]), ["R0.r", "Cpe0.q", "Cpe0.alpha", "R1.r", "Cpe1.q", "Cpe1.alpha"]),
        (Series([Circuit("R0-C1"), R(5)]), ["R0.r", "C1.c", "R0.r"]),
        (Series([R(5), Circuit("R0-C1")]), ["R0.r", "R0.r", "C1.c"]),
        (Series([Circuit("R3"), R(1), R(2)]), ["R3.r", "R0.r", "R1.r"]),
        (Parallel([Circuit("R0-C1"), Circuit("R0-C1")]), ["R0.r", "C1.c", "R0.r", "C1.c"]),
        (Series([Circuit("CPE1"), Cpe(1, 0.5)]), ["CPE1.q", "CPE1.alpha", "Cpe0.q", "Cpe0.alpha"]),
    ],
)
def test_composed_names(composed, names):
    assert composed.param_names() == names


@pytest.mark.parametrize(
    "composed, parsed, values",
    [
        (Series([R(1), Parallel([R(2), C(3e-3)])]), "R0-(R1,C1)", [1, 2, 3e-3]),
        (Series([R(1), Parallel([R(2), C(3e-3)])]), "R0-p(R1,C1)", [1, 2, 3e-3]),
        (Series([Circuit("R0"), Circuit("(R1,C1)")]), "R0-(R1,C1)", [1, 1, 1e-3]),
        (Parallel([Series([R(1), C(2)]), Cpe(3, 0.5)]), "(R0-C0,CPE0)", [1, 2, 3, 0.5]),
        (Parallel([Parallel([R(1)])]), "((R1))", [1]),
        (
            Series([Circuit("R0"), Parallel([R(20), Cpe(1e-4, 0.9)]), Parallel([Series([R(30), Element.Wo(5, 2)]), Cpe(1e-3, 0.7)])]),
            "R0-(R1,CPE1)-(R2-Wo2,CPE2)",
            [1, 20, 1e-4, 0.9, 30, 5, 2, 1e-3, 0.7],
        ),
        (Series([Element.Zarc(1, 2, 0.5), Element.Tlmq(1, 2, 0.3), T(1, 2, 3, 0.1)]), "Zarc0-TLMQ1-T2", [1, 2, 0.5, 1, 2, 0.3, 1, 2, 3, 0.1]),
    ],
)
def test_composed_impedance_equals_parsed(composed, parsed, values):
    expected = Circuit(parsed).with_values(values).impedance(FREQUENCIES)
    assert np.array_equal(bits(composed.impedance(FREQUENCIES)), bits(expected))
    assert composed.param_values() == [float(v) for v in values]


def test_parallel_of_two_unit_resistors():
    assert np.array_equal(Parallel([R(1), R(1)]).impedance(FREQUENCIES), np.full(FREQUENCIES.shape, 0.5 + 0j))


def test_circuit_operand_is_a_branch_as_it_is():
    z = Parallel([Circuit("R0-R1"), R(2)]).impedance([1.0])
    assert z[0] == 1.0


@pytest.mark.parametrize(
    "composed, names, nan",
    [
        (Series([]), [], False),
        (Parallel([]), [], True),
        (Parallel([Series([])]), [], True),
        (Parallel([R(1), Series([])]), ["R0.r"], True),
        (Series([Series([]), R(2), Series([])]), ["R0.r"], False),
    ],
)
def test_degenerate_compositions(composed, names, nan):
    z = composed.impedance([1.0, 100.0])
    assert composed.param_names() == names
    if nan:
        assert np.isnan(z.real).all() and np.isnan(z.imag).all()
    else:
        assert np.array_equal(z, np.full(2, 0j if not names else 2 + 0j))


def test_operands_are_not_changed():
    operand = Circuit("R0-C1").with_values([2, 3])
    before = repr(operand)
    Series([operand, operand])
    Parallel([operand, R(1)])
    assert repr(operand) == before


@pytest.mark.parametrize(
    "parts",
    ["R0", b"R0", 5, None, {R(1)}, {"a": R(1)}, (p for p in [R(1)]), [1], [R(1), "R0"], [Element], [R], [None]],
)
@pytest.mark.parametrize("compose", [Series, Parallel])
def test_composition_refuses_other_parts(compose, parts):
    with pytest.raises(TypeError, match="argument 'parts'"):
        compose(parts)


@pytest.mark.parametrize("compose", [Series, Parallel])
def test_composition_arguments(compose):
    assert compose(parts=(R(1),)).param_values() == [1.0]
    with pytest.raises(TypeError):
        compose()
    with pytest.raises(TypeError):
        compose([R(1)], [R(2)])


def test_composition_docstrings():
    assert Series.__text_signature__ == "(parts)"
    assert Series.__doc__ == "Connect elements and circuits end to end."
    assert Parallel.__text_signature__ == "(parts)"
    assert Parallel.__doc__ == "Connect elements and circuits as parallel branches."


@pytest.mark.parametrize(
    "circuit, explicit",
    [
        (Series([R(1), C(1e-3)]), True),
        (Circuit("T0-Gs1"), False),
        (Series([Circuit("T0-Gs1")]), False),
        (Series([Circuit("T0-Gs1").with_values([1, 2, 3, 4, 5, 6, 7])]), True),
        (Parallel([Circuit("T0"), Gs(1, 2, 3)]), False),
        (Parallel([Circuit("T0").with_named_values({"T0.a": 1, "T0.b": 2, "T0.k_tau": 3, "T0.tau": 4}), Gs(1, 2, 3)]), True),
        (Series([Series([T(1, 2, 3, 4)]), Circuit("Gs0")]), False),
        (Series([]), True),
    ],
)
def test_explicit_values_flag(circuit, explicit):
    assert has_explicit_values(circuit) == explicit
