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


def unknown_lines(circuit, key):
    """The lines about `key` alone, with every name supplied."""
    values = dict.fromkeys(circuit.param_names(), 1.0)
    values[key] = 1.0
    return message_of(circuit, values).split("\n\n")[0]


def test_documented_example():
    assert message_of(Circuit("R0-(R1,C1)"), {"R0.r": 1, "R1.r": 2, "C1.C": 3}) == (
        'unknown parameter "C1.C" (did you mean "C1.c"?)\nmissing parameter(s): ["C1.c"]\n\n' + RC_TABLE
    )


def test_success_follows_layout_order_not_dict_order():
    c = Circuit("R0-(R1,CPE1)")
    rebuilt = c.with_named_values({"CPE1.alpha": 0.5, "R1.r": 20, "CPE1.q": 1e-4, "R0.r": 10})
    assert rebuilt.param_values() == [10.0, 20.0, 1e-4, 0.5]
    assert c.param_values() == [1.0, 1.0, 0.001, 0.8]


def test_accepts_dict_subclasses_and_keyword():
    c = Circuit("R0")
    assert c.with_named_values(OrderedDict([("R0.r", 3)])).param_values() == [3.0]
    assert c.with_named_values(values={"R0.r": 4}).param_values() == [4.0]


def test_extra_key_alone():
    assert message_of(Circuit("R0-(R1,C1)"), {"R0.r": 1, "R1.r": 2, "C1.c": 3, "zzzzzz": 4}) == (
        'unknown parameter "zzzzzz"\n\n' + RC_TABLE
    )


def test_missing_names_alone():
    assert message_of(Circuit("R0-(R1,C1)"), {"R1.r": 2}) == (
        'missing parameter(s): ["R0.r", "C1.c"]\n\n' + RC_TABLE
    )


def test_several_unknown_keys_in_dict_order():
    message = message_of(Circuit("R0-(R1,C1)"), {"b": 1, "R0.r": 1, "a": 2})
    assert message.split("\n")[:3] == [
        'unknown parameter "b"',
        'unknown parameter "a"',
        'missing parameter(s): ["R1.r", "C1.c"]',
    ]


@pytest.mark.parametrize(
    "circuit, key, suggestion",
    [
        ("R0", "r0.r", "R0.r"),  # case is a substitution
        ("R0", "R0", "R0.r"),  # 2 characters: threshold 2, distance 2
        ("R0", "R", None),  # distance 3 beyond threshold 2
        ("R0", "R0.r.x", "R0.r"),
        ("R1234567", "R1234XXXXX", "R1234567.r"),  # 10 characters: threshold 5, distance 5
        ("R1234567", "R123XXXXXX", None),  # distance 6
        ("R0-R1", "R2.r", "R0.r"),  # tie: the earlier name wins
        ("R1-R0", "R2.r", "R1.r"),
        ("R0", "R0.r\u00e9\u00e9\u00e9", "R0.r"),  # characters, not bytes: 7 characters, distance 3
        ("R0", "\u00c9\u00c9.r", "R0.r"),
        ("CPE1", "CPE1.alfa", "CPE1.alpha"),
        ("R0", "xR0.rxx", "R0.r"),  # 7 characters: threshold 3, distance 3
        ("R0", "xxR0.rxx", "R0.r"),  # 8 characters: threshold 4, distance 4
        ("R0", "xxR0.rxxx", None),  # 9 characters: threshold 4, distance 5
    ],
)
def test_suggestions(circuit, key, suggestion):
    expected = f'unknown parameter "{key}"'
    if suggestion:
        expected += f' (did you mean "{suggestion}"?)'
    assert unknown_lines(Circuit(circuit), key) == expected


@pytest.mark.parametrize(
    "key, quoted",
    [
        ('a"b', r'"a\"b"'),
        ("a\\b", r'"a\\b"'),
        ("\t\r\n\x00", r'"\t\r\n\0"'),
        ("bell\x07", r'"bell\u{7}"'),
        ("del\x7f", r'"del\u{7f}"'),
        ("\u00e9t\u00e9", '"\u00e9t\u00e9"'),
    ],
)
def test_keys_are_quoted_with_escapes(key, quoted):
    assert unknown_lines(Circuit("R0"), key) == "unknown parameter " + quoted


def test_duplicate_names_take_one_value():
    c = Series([Circuit("R0-C1"), R(5)])
    assert c.with_named_values({"R0.r": 2, "C1.c": 3}).param_values() == [2.0, 3.0, 2.0]


def test_circuit_without_parameters():
    empty = Series([])
    assert empty.with_named_values({}).param_values() == []
    assert message_of(empty, {"R0.r": 1}) == 'unknown parameter "R0.r"\n\nvalid parameters for this circuit:'


def test_table_pads_names_and_shows_bounds():
    assert message_of(Circuit("R0-(R1,CPE12)"), {}).split("\n")[1:] == [
        "",
        "valid parameters for this circuit:",
        "  R0.r         [ohm]  bounds (1e-12, inf)",
        "  R1.r         [ohm]  bounds (1e-12, inf)",
        "  CPE12.q      [ohm^-1*s^alpha]  bounds (1e-12, inf)",
        "  CPE12.alpha  [-]  bounds (0, 1)",
    ]


@pytest.mark.parametrize("values", [[("R0.r", 1.0)], None, "R0.r", MappingProxyType({"R0.r": 1.0}), 1.0])
def test_only_a_dict_is_accepted(values):
    with pytest.raises(TypeError, match="argument 'values'"):
        Circuit("R0").with_named_values(values)


@pytest.mark.parametrize("key", [0, b"R0.r", ("R0.r",), None])
def test_keys_must_be_str(key):
    with pytest.raises(TypeError, match="argument 'values'"):
        Circuit("R0").with_named_values({key: 1.0})


@pytest.mark.parametrize("value", ["1.0", None, 1j, [1.0], object()])
def test_values_must_convert_to_float(value):
    with pytest.raises(TypeError, match="argument 'values'"):
        Circuit("R0").with_named_values({"R0.r": value})


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
