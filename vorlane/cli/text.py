"""Plain-text layout of what the commands print."""

from __future__ import annotations

import math
from typing import Iterable, Optional, Sequence, Tuple

MISSING = "-"


def finite_or_none(value: Optional[float]) -> Optional[float]:
    """The value, or None where it is missing or not a finite number (a
    standard error that cannot be computed)."""
    return value if value is not None and math.isfinite(value) else None


def number(value: Optional[float]) -> str:
    shown = finite_or_none(value)
    return MISSING if shown is None else f"{shown:.6g}"


def columns(rows: Sequence[Sequence[str]]) -> str:
    """Rows of cells as left-aligned columns two blanks apart."""
    widths = [max(len(row[i]) for row in rows) for i in range(len(rows[0]))]
    return "\n".join("  ".join(cell.ljust(width) for cell, width in zip(row, widths)).rstrip() for row in rows)


def fields(pairs: Iterable[Tuple[str, str]]) -> str:
    """One "name  value" line per pair, the values aligned."""
    return columns([list(pair) for pair in pairs])
