"""Dropping the points a Kramers-Kronig check marked as outliers."""

FREQUENCY_COLUMN = "Frequency / Hz"


def _kept_rows(check, frequencies):
    """The rows to keep. The check saw the rows at positive frequency, in
    order (two sequences: every row, their frequencies all positive)."""
    import numpy as np

    outliers = np.asarray(check.outliers)
    seen = np.flatnonzero(frequencies > 0)
    if seen.size != outliers.size:
        raise ValueError(
            f"the Kramers-Kronig check has {outliers.size} points but the spectrum has {seen.size}: "
            "pass the spectrum the check was run on"
        )
    keep = np.ones(frequencies.size, dtype=bool)
    keep[seen[outliers]] = False
    return keep


def drop_outliers(check, frequencies, impedances=None):
    """The spectrum a `kramers_kronig` check was run on, without the points
    it marked as `outliers`.

    Takes the spectrum as the check did: two sequences (returned as two numpy
    arrays), or one dataframe (pandas or polars) or dict of columns with the
    battery data format columns (`impedances` left as None), returned as the
    same kind with the outlier rows left out (a pandas frame keeps its index).
    Rows at zero or negative frequency, which the check skipped, are kept.
    """
    import numpy as np

    from vorlane import KramersKronigResult

    if not isinstance(check, KramersKronigResult):
        raise TypeError(f"expected a KramersKronigResult as the first argument, got {type(check).__name__!r}")
    if impedances is not None:
        f = np.asarray(frequencies, dtype=np.float64)
        z = np.asarray(impedances, dtype=np.complex128)
        if f.ndim != 1 or f.shape != z.shape:
            raise ValueError("frequencies and impedances must be one-dimensional and of the same length")
        keep = _kept_rows(check, np.ones(f.size))
        return f[keep], z[keep]
    frame = frequencies
    module = type(frame).__module__.split(".")[0]
    if isinstance(frame, dict):
        column = frame.get(FREQUENCY_COLUMN)
    elif module in ("pandas", "polars"):
        column = frame[FREQUENCY_COLUMN] if FREQUENCY_COLUMN in frame.columns else None
    else:
        raise TypeError(
            "expected two sequences, or a pandas or polars dataframe or a dict of columns, "
            f"got {type(frame).__name__!r}"
        )
    if column is None:
        raise ValueError(f"the spectrum has no {FREQUENCY_COLUMN!r} column")
    keep = _kept_rows(check, np.asarray(column, dtype=np.float64))
    if isinstance(frame, dict):
        rows = np.flatnonzero(keep)
        return {
            name: values[keep] if isinstance(values, np.ndarray) else [values[i] for i in rows]
            for name, values in frame.items()
        }
    if module == "pandas":
        return frame[keep]
    return frame.filter(keep)
