"""The text of one measurement file, with errors that name the file and
the line."""

import os
import re

_NUMBER = re.compile(r"[+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?")
_COMMA_NUMBER = re.compile(r"[+-]?(?:\d+,?\d*|,\d+)(?:[eE][+-]?\d+)?")


def is_number(text):
    """Whether `text` is a plain decimal number, as a table's cells hold them."""
    return _NUMBER.fullmatch(text.strip()) is not None


class Source:
    """The lines of a text file, decoded as UTF-8 (a byte-order mark
    skipped) or, failing that, as Latin-1, which instrument software on
    Windows often writes."""

    def __init__(self, path):
        self.path = os.fspath(path)
        with open(self.path, "rb") as handle:
            data = handle.read()
        self.name = os.path.basename(self.path)
        if b"\x00" in data:
            line = data[: data.index(b"\x00")].count(b"\n") + 1
            raise self.error(line, "a text file", "binary data (a NUL byte)")
        try:
            text = data.decode("utf-8-sig")
        except UnicodeDecodeError:
            text = data.decode("latin-1")
        self.lines = text.splitlines()
        if not any(line.strip() for line in self.lines):
            raise self.error(1, "a measurement", "an empty file")

    def error(self, line_number, expected, found=None):
        """A ValueError naming this file, the 1-based line and what was
        expected there."""
        message = f"{self.path}, line {line_number}: expected {expected}"
        if found is not None:
            message += f", found {found}"
        return ValueError(message)

    def number(self, cell, line_number, what, decimal_comma=False):
        """The float written in `cell`; NaN, infinities and anything else
        that is not a plain decimal number are refused."""
        text = cell.strip()
        if _NUMBER.fullmatch(text):
            return float(text)
        if decimal_comma and _COMMA_NUMBER.fullmatch(text):
            return float(text.replace(",", "."))
        raise self.error(line_number, f"a number for {what}", repr(cell))
