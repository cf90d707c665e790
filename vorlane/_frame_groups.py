"""One long dataframe of many spectra, split by the column(s) that tell them
apart (a cycle count, a temperature, a state of charge)."""


def _by_columns(by):
    columns = [by] if isinstance(by, str) else list(by) if isinstance(by, (list, tuple)) else None
    if not columns or not all(isinstance(column, str) for column in columns):
        raise TypeError(f"argument 'by': expected a column name or a list of column names, got {by!r}")
    return columns


def _groups(frame, by):
    """(key tuple, sub-frame) per spectrum, in order of first appearance; rows
    with a missing key form a spectrum of their own."""
    columns = _by_columns(by)
    module = type(frame).__module__.split(".")[0]
    if module not in ("pandas", "polars"):
        raise TypeError(f"argument 'spectra': by= needs a pandas or polars dataframe, got '{type(frame).__name__}'")
    missing = [column for column in columns if column not in frame.columns]
    if missing:
        raise ValueError(f"by= names columns the dataframe does not have: {missing}; it has {list(frame.columns)}")
    if module == "pandas":
        grouped = frame.groupby(columns, sort=False, dropna=False)
        return [(key if isinstance(key, tuple) else (key,), part) for key, part in grouped]
    parts = frame.partition_by(columns, maintain_order=True)
    return [(tuple(part[column][0] for column in columns), part) for part in parts]


def _shown(value):
    return repr(value) if isinstance(value, str) else str(value)


def split_for_fit(frame, by):
    """The sub-frames and a label per spectrum ("Cycle Count / 1 = 3") for
    the messages of Circuit.fit_many."""
    columns = _by_columns(by)
    frames, labels = [], []
    for key, part in _groups(frame, by):
        frames.append(part)
        labels.append(", ".join(f"{column} = {_shown(value)}" for column, value in zip(columns, key)))
    return frames, labels


def group_keys(frame, by):
    """The key of each spectrum that `Circuit.fit_many(frame, by=by)` fits, in
    the same order, as {column: [values]}; hand it to `results_table(keys=...)`."""
    columns = _by_columns(by)
    keys = [key for key, _ in _groups(frame, by)]
    return {column: [key[i] for key in keys] for i, column in enumerate(columns)}
