"""The text of one measurement file, with errors that name the file and
the line.

Decoding: UTF-8 (a byte-order mark skipped), or UTF-16 where the file
starts with its byte-order mark. Any other file is Windows-1252, the
Western code page that instrument software on Windows writes (the degree
sign, micro sign and superscript two are the Latin-1 bytes B0, B5 and B2);
a file holding one of the five bytes that code page leaves undefined is
read as Latin-1. Decoding never fails: which characters the header's units
are made of is the only thing that depends on it, and columns.py reads
those units in the other encodings too.

Lines end at LF, CR LF or CR; CR CR LF (a CR LF written through a text
stream that adds its own CR) is one line end. A DOS end-of-file mark
(Ctrl-Z) at the end of the file is not part of the text."""

import codecs
import math
import os
import re

import numpy as np

# Written so that no two parts can match the same digits: a cell of a
# million digits is refused in one pass, not in a million.
_NUMBER = re.compile(r"[+-]?(?:\d+(?:\.\d*)?|\.\d+)(?:[eE][+-]?\d+)?", re.ASCII)
_COMMA_NUMBER = re.compile(r"[+-]?(?:\d+(?:,\d*)?|,\d+)(?:[eE][+-]?\d+)?", re.ASCII)
_LARGEST = "1.8e308"


def is_number(text, decimal_comma=False):
    """Whether `text` is a plain decimal number, as a table's cells hold them
    (a comma as the decimal mark where `decimal_comma`)."""
    text = text.strip()
    return _NUMBER.fullmatch(text) is not None or (decimal_comma and _COMMA_NUMBER.fullmatch(text) is not None)


def decode(data):
    """The text of a file's bytes; see the module's notes."""
    if data.startswith((codecs.BOM_UTF16_LE, codecs.BOM_UTF16_BE)):
        try:
            text = data.decode("utf-16")
        except UnicodeDecodeError:
            pass
        else:
            if "\x00" not in text:
                return text
    try:
        return data.decode("utf-8-sig")
    except UnicodeDecodeError:
        pass
    if not ((np.frombuffer(data, dtype=np.uint8) - np.uint8(0x80)) < 0x20).any():
        # The two code pages differ only in the bytes 80 to 9F; Latin-1's
        # decoder is the faster.
        return data.decode("latin-1")
    try:
        return data.decode("cp1252")
    except UnicodeDecodeError:
        return data.decode("latin-1")


def _read_bytes(path):
    """The file's bytes (os.read: a third of the time open() takes for the
    small files instruments write)."""
    descriptor = os.open(path, os.O_RDONLY | getattr(os, "O_BINARY", 0))
    try:
        chunks = []
        while chunk := os.read(descriptor, 1 << 24):
            chunks.append(chunk)
    finally:
        os.close(descriptor)
    return b"".join(chunks)


class Source:
    """The lines of a measurement file (see the module's notes for how
    they are decoded and split)."""

    def __init__(self, path):
        self.path = os.fspath(path)
        data = _read_bytes(self.path)
        text = decode(data)
        if "\r" in text:
            text = text.replace("\r\r\n", "\n").replace("\r\n", "\n").replace("\r", "\n")
        if "\x00" in text:
            line = text[: text.index("\x00")].count("\n") + 1
            raise self.error(line, "a text file", "binary data (a NUL byte)")
        text = text.rstrip("\x1a")
        if not text or text.isspace():
            raise self.error(1, "a measurement", "an empty file")
        self.text = text
        self.lines = text.split("\n")
        if self.lines[-1] == "":
            self.lines.pop()

    def first_line(self):
        """The first line that is not blank."""
        return next(line for line in self.lines if line.strip())

    def error(self, line_number, expected, found=None):
        """A ValueError naming this file, the 1-based line and what was
        expected there."""
        message = f"{self.path}, line {line_number}: expected {expected}"
        if found is not None:
            message += f", found {found}"
        return ValueError(message)

    def number(self, cell, line_number, what, decimal_comma=False, factor=1.0, unit=None):
        """The float written in `cell`, times `factor` (a unit conversion
        to `unit`). NaN, infinities, numbers beyond the range of a float,
        before or after the conversion, and anything else that is not a
        plain decimal number are refused."""
        text = cell.strip()
        if _NUMBER.fullmatch(text):
            value = float(text)
        elif decimal_comma and _COMMA_NUMBER.fullmatch(text):
            value = float(text.replace(",", "."))
        else:
            raise self.error(line_number, f"a number for {what}", repr(cell))
        if math.isinf(value):
            raise self.error(line_number, f"a number for {what} no larger in magnitude than {_LARGEST}", repr(text))
        value *= factor
        if math.isinf(value):
            raise self.error(line_number, f"a number for {what} no larger in magnitude than {_LARGEST} in {unit}",
                             repr(text))
        return value
