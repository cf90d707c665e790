"""Circuit.circuit_string: which circuit a Circuit is, in the grammar it was
written in."""

import pytest

import vorlane
from vorlane import Cpe, Parallel, R, Series, Wo

REGISTRY = {
    "rc": "R0-(R1,C1)",
    "rc_l": "L0-R0-(R1,C1)",
    "rq": "R0-(R1,CPE1)",
    "rq_l": "L0-R0-(R1,CPE1)",
    "two_rc": "R0-(R1,C1)-(R2,C2)",
    "two_rc_l": "L0-R0-(R1,C1)-(R2,C2)",
    "two_rq": "R0-(R1,CPE1)-(R2,CPE2)",
    "two_rq_l": "L0-R0-(R1,CPE1)-(R2,CPE2)",
    "randles": "R0-(R1-W1,CPE1)",
    "sei_randles": "R0-(R1,CPE1)-(R2-W2,CPE2)",
    "sei_randles_wo": "R0-(R1,CPE1)-(R2-Wo2,CPE2)",
}


@pytest.mark.parametrize("name", vorlane.Circuit.ml_circuits())
def test_model_names_say_which_circuit_they_are(name):
    assert vorlane.Circuit(name).circuit_string == REGISTRY[name]
    assert vorlane.Circuit(f"  {name.upper()}\n").circuit_string == REGISTRY[name]


@pytest.mark.parametrize(
    "text, written",
    [(" R0-p(R1,C1) ", "R0-(R1,C1)"), ("Zarc1-Tlmq2", "Zarc1-Tlmq2"), ("(R1)", "(R1)")],
)
def test_parsed_circuits_are_written_back(text, written):
    assert vorlane.Circuit(text).circuit_string == written


def test_composed_circuits_get_a_string_that_parses_to_the_same_names():
    cell = Series([R(0.02), Parallel([Series([R(0.03), Wo(0.01, 50.0)]), Cpe(q=3.0, alpha=0.8)])])
    assert cell.circuit_string == "R0-(R1-Wo0,Cpe0)"
    assert vorlane.Circuit(cell.circuit_string).param_names() == cell.param_names()
    # Fitted and rebuilt circuits keep their topology.
    assert cell.with_values(cell.param_values()).circuit_string == "R0-(R1-Wo0,Cpe0)"


def test_strings_of_shapes_the_grammar_cannot_hold():
    assert Series([]).circuit_string == ""
    assert Parallel([]).circuit_string == "()"
    # Parts that bring the same label keep it; such a string does not parse.
    assert Series([vorlane.Circuit("R0-C1"), R(5.0)]).circuit_string == "R0-C1-R0"


def test_circuit_string_is_read_only():
    with pytest.raises(AttributeError):
        vorlane.Circuit("R0").circuit_string = "R1"
