"""Hostile and generated circuit strings: every text gives a Circuit or a
ValueError with a well-formed message, and generated circuits evaluate like
the same tree composed from element objects."""

import itertools

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from vorlane import Circuit, Element, Parallel, Series

FIRST_LINES = ("unexpected character at position ", "unexpected end of input", "unknown element code ",
               "unexpected trailing input at position ", "duplicate element label ")

# Pieces of the grammar, so that random texts get deep into the parser.
GRAMMAR_PIECES = ["R", "C", "CPE", "Cpe", "Wo", "TLMQ", "Zarc", "p", "P", "(", ")", ",", "-", "0", "1", "12",
                  " ", "\x00", "\u03a9", "\u00e9", "\U0001f50b", "\u3000"]


def check_text(text):
    try:
        circuit = Circuit(text)
    except ValueError as error:
        message = str(error)
        if isinstance(error, UnicodeError):  # a lone surrogate has no UTF-8 form
            return
        assert message.startswith(FIRST_LINES), message
        assert "\n\nsyntax:\n" in message
        return
    names = circuit.param_names()
    assert len(names) == len(circuit.param_values()) == len(circuit.param_bounds())
    assert repr(circuit).startswith(f"Circuit ({len(names)} parameter")


TEXTS = st.one_of(
    st.text(),
    st.text(alphabet=st.characters(min_codepoint=0xD800, max_codepoint=0xDFFF) | st.sampled_from("R0-(,)")),
    st.lists(st.sampled_from(GRAMMAR_PIECES), max_size=25).map("".join),
)


@settings(max_examples=500, suppress_health_check=[HealthCheck.too_slow])
@given(TEXTS)
def test_any_text_gives_a_circuit_or_a_value_error(text):
    check_text(text)


@pytest.mark.parametrize("text", ["(" * 10_000 + "R0" + ")" * 10_000, "(" * 10_000, "p(" * 5000 + "R0"])
def test_deep_nesting_does_not_crash(text):
    check_text(text)


# --- generated circuits ----------------------------------------------------------

KINDS = {"R": (Element.R, 1), "C": (Element.C, 1), "L": (Element.L, 1), "CPE": (Element.Cpe, 2),
         "W": (Element.W, 1), "Wo": (Element.Wo, 2), "K": (Element.K, 2), "Zarc": (Element.Zarc, 3)}

TREES = st.recursive(
    st.sampled_from(sorted(KINDS)),
    lambda children: st.tuples(st.sampled_from(["series", "parallel"]), st.lists(children, min_size=1, max_size=3)),
    max_leaves=10,
)


def render(node, labels, style):
    """The circuit text of a generated tree, with unique labels."""
    if isinstance(node, str):
        return f"{node}{next(labels)}"
    kind, items = node
    if kind == "series":
        return "-".join(render(item, labels, style) for item in items)
    opening = "p(" if style else "("
    return opening + ",".join(render(item, labels, style) for item in items) + ")"


def compose(node, values):
    """The same tree from element objects, drawing values in layout order."""
    if isinstance(node, str):
        cls, count = KINDS[node]
        return cls(*[next(values) for _ in range(count)])
    kind, items = node
    parts = [compose(item, values) for item in items]
    return Series(parts) if kind == "series" else Parallel(parts)


@settings(max_examples=150, deadline=None)
@given(TREES, st.booleans())
def test_generated_circuits_match_composition(node, style):
    top = node if isinstance(node, tuple) and node[0] == "series" else ("series", [node])
    parsed = Circuit(render(top, itertools.count(), style))
    values = [0.3 + 0.1 * i if i % 3 else 0.5 for i in range(len(parsed.param_values()))]
    frequencies = np.logspace(-1, 4, 7)
    expected = parsed.with_values(values).impedance(frequencies)
    got = compose(top, iter(values)).impedance(frequencies)
    assert np.array_equal(got.view(np.uint64), expected.view(np.uint64))
