"""The progress display of Circuit.fit_many: a tqdm bar on stderr when tqdm
is installed, a plain counter line otherwise."""

import sys


class CounterLine:
    """`fit_many: done/total spectra`, rewritten in place on stderr."""

    def __init__(self, total):
        self.total = total
        self.done = 0
        self._show()

    def update(self, count):
        self.done += count
        self._show()

    def close(self):
        sys.stderr.write("\n")
        sys.stderr.flush()

    def _show(self):
        sys.stderr.write(f"\rfit_many: {self.done}/{self.total} spectra")
        sys.stderr.flush()


def progress_bar(total):
    """A progress display for `total` spectra with `update(count)` and `close()`."""
    try:
        from tqdm import tqdm
    except ImportError:
        return CounterLine(total)
    return tqdm(total=total, unit="spectrum", desc="fit_many", file=sys.stderr)
