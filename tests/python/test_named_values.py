"""Circuit.with_named_values: strict assignment by name, suggestions for
misspelt names, and the one message that reports every mismatch."""

from collections import OrderedDict
from types import MappingProxyType

import pytest

from vorlane import Circuit, R, Series

RC_TABLE = (
    "valid parameters for this circuit:\n"
    "  R0.r  [ohm]  bounds (1e-12, inf)\n"
    "  R1.r  [ohm]  bounds (1e-12, inf)\n"
    "  C1.c  [F]  bounds (1e-12, inf)"
)


def message_of(circuit, values):
    with pytest.raises(ValueError) as caught:
        circuit.with_named_values(values)
    return str(caught.value)


@pytest.mark.parametrize(
    "values, head",
    [
        ({"R0.r": 1, "R1.r": 2, "C1.C": 3},
         'unknown parameter "C1.C" (did you mean "C1.c"?)\nmissing parameter(s): ["C1.c"]'),
        ({"R0.r": 1, "R1.r": 2, "C1.c": 3, "zzzzzz": 4}, 'unknown parameter "zzzzzz"'),
        ({"R1.r": 2}, 'missing parameter(s): ["R0.r", "C1.c"]'),
        ({"b": 1, "R0.r": 1, "a": 2},
         'unknown parameter "b"\nunknown parameter "a"\nmissing parameter(s): ["R1.r", "C1.c"]'),
    ],
)
def test_mismatch_messages(values, head):
    assert message_of(Circuit("R0-(R1,C1)"), values) == head + "\n\n" + RC_TABLE


def test_success_follows_layout_order_not_dict_order():
    c = Circuit("R0-(R1,CPE1)")
    rebuilt = c.with_named_values(OrderedDict({"CPE1.alpha": 0.5, "R1.r": 20, "CPE1.q": 1e-4, "R0.r": 10}))
    assert rebuilt.param_values() == [10.0, 20.0, 1e-4, 0.5]
    assert c.param_values() == [1.0, 1.0, 0.001, 0.8]
    assert c.with_named_values(values={"R0.r": 4, "R1.r": 5, "CPE1.q": 6, "CPE1.alpha": 0.5}).param_values()[0] == 4.0


@pytest.mark.parametrize(
    "circuit, key, suggestion",
    [
        ("R0", "r0.r", "R0.r"),  # case counts as a substitution
        ("R0", "R0", "R0.r"),  # 2 characters: threshold 2, distance 2
        ("R0", "R", None),  # distance 3
        ("R0", "xR0.rxx", "R0.r"),  # 7 characters: threshold 3, distance 3
        ("R0", "xxR0.rxxx", None),  # 9 characters: threshold 4, distance 5
        ("R1234567", "R1234XXXXX", "R1234567.r"),  # 10 characters: threshold 5, distance 5
        ("R1234567", "R123XXXXXX", None),  # distance 6
        ("R0-R1", "R2.r", "R0.r"),  # ties go to the earlier name
        ("R1-R0", "R2.r", "R1.r"),
        ("R0", "R0.r\u00e9\u00e9\u00e9", "R0.r"),  # characters, not bytes: 7 characters, distance 3
        ("CPE1", "CPE1.alfa", "CPE1.alpha"),
    ],
)
def test_suggestions(circuit, key, suggestion):
    c = Circuit(circuit)
    values = dict.fromkeys(c.param_names(), 1.0) | {key: 1.0}
    expected = f'unknown parameter "{key}"' + (f' (did you mean "{suggestion}"?)' if suggestion else "")
    assert message_of(c, values).split("\n\n")[0] == expected


@pytest.mark.parametrize(
    "key, quoted",
    [('a"b', r'"a\"b"'), ("a\\b", r'"a\\b"'), ("\t\r\n\x00", r'"\t\r\n\0"'), ("bell\x07\x7f", r'"bell\u{7}\u{7f}"'),
     ("\u00e9t\u00e9", '"\u00e9t\u00e9"')],
)
def test_keys_are_quoted_with_escapes(key, quoted):
    assert message_of(Circuit("R0"), {"R0.r": 1.0, key: 2.0}).split("\n")[0] == "unknown parameter " + quoted


def test_duplicate_names_take_one_value():
    c = Series([Circuit("R0-C1"), R(5)])
    assert c.with_named_values({"R0.r": 2, "C1.c": 3}).param_values() == [2.0, 3.0, 2.0]


def test_circuit_without_parameters():
    assert Series([]).with_named_values({}).param_values() == []
    assert message_of(Series([]), {"R0.r": 1}) == 'unknown parameter "R0.r"\n\nvalid parameters for this circuit:'


def test_table_pads_names_and_shows_bounds():
    assert message_of(Circuit("R0-(R1,CPE12)"), {}).split("\n")[1:] == [
        "",
        "valid parameters for this circuit:",
        "  R0.r         [ohm]  bounds (1e-12, inf)",
        "  R1.r         [ohm]  bounds (1e-12, inf)",
        "  CPE12.q      [ohm^-1*s^alpha]  bounds (1e-12, inf)",
        "  CPE12.alpha  [-]  bounds (0, 1)",
    ]


@pytest.mark.parametrize(
    "values",
    [[("R0.r", 1.0)], None, "R0.r", MappingProxyType({"R0.r": 1.0}),  # only a dict
     {0: 1.0}, {b"R0.r": 1.0}, {("R0.r",): 1.0},  # only str keys
     {"R0.r": "1.0"}, {"R0.r": None}, {"R0.r": 1j}, {"R0.r": object()}],  # only float values
)
def test_argument_errors_name_values(values):
    with pytest.raises(TypeError, match="argument 'values'"):
        Circuit("R0").with_named_values(values)


def test_value_conversion_sees_a_snapshot_of_the_dict():
    values = {}

    class Mutating:
        def __float__(self):
            values.clear()
            values.update({f"k{i}": i for i in range(100)})
            return 7.0

    values["R0.r"] = Mutating()
    assert Circuit("R0").with_named_values(values).param_values() == [7.0]


def test_lone_surrogate_key_is_a_value_error():
    with pytest.raises(ValueError):
        Circuit("R0").with_named_values({"R0.r": 1.0, "\ud800": 2.0})
