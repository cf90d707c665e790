"""vorlane's Kramers-Kronig verdict against the mu rule, impedance.py's linKK and pyimpspec.

Does `vorlane.kramers_kronig(f, z)` (its defaults: m, the series C and L and
the window chosen by the check) pass valid spectra and catch drifting ones?

Spectra, drawn from a seed (spectrum i is the same in every run and subset):
seven kinds, taken in turn, with five noise levels, each level for seven
spectra in a row (so every block of 35 holds each kind at each level once):

- rc: R0-(R1,C1); two_rq: R0-(R1,CPE1)-(R2,CPE2); randles: R0-(R1-W1,CPE1)
  (a Warburg tail over up to 1.5 decades above f_min); inductive:
  L0-R0-(R1,CPE1)-(R2,CPE2) with omega_max L from 0.3 to 3 times R0;
  blocking: R0-(R1,CPE1) with a series C2 or CPE2 (alpha 0.8-1) whose |Z| at
  f_min is 1 to 10 times R1; outside: two_rq with one arc centred up to a
  decade beyond either end of the window; battery:
  L0-R0-(R1,CPE1)-(R2-W2,CPE2) (omega_max L 0.1 to 3 times R0).
- Windows 10 mHz-100 kHz, 0.1 Hz-1 MHz, 1 mHz-10 kHz, 10 mHz-1 MHz,
  1 Hz-1 MHz or 0.1 Hz-100 kHz; 5 to 15 points per decade, log-spaced, in
  measurement order (highest frequency first).
- R0 log-uniform from 10 mohm to 100 ohm, each arc's R 0.3 to 30 times R0,
  arc apexes log-uniform inside the window (half a decade from its ends, 1.5
  decades above f_min for kinds with a low-frequency tail) and a decade apart
  at least; C = 1/(omega R) at the apex, CPE alpha 0.7-1 and q = omega^-alpha / R.
- Noise: sigma = 0.1, 0.25, 0.5, 1 or 2 % of |Z|, Gaussian, drawn
  independently for the real and imaginary parts.

Drift: each spectrum also comes drifting, with the same noise draw: one
arc's resistance (drawn among the arcs) changes linearly in time by 1 to 20 %
(log-uniform, growing or shrinking with equal odds) from the start to the
end of the sweep, each point evaluated with the resistance at its own time
t_i (0 at the start of the sweep, 1 at its end). The sweep runs from the
highest frequency to the lowest. Two families share the clean spectra, the
drift draws and the noise draws, and differ only in the times:

- "drift" (time as measured): a point takes 2 cycles and 1 s at least,
  max(2/f, 1 s) (integration and settling), and its time is the middle of
  its own measurement: t_i = (sum_{j<i} d_j + d_i / 2) / sum_j d_j. The
  lowest decade therefore holds most of the sweep's time, as it does on an
  instrument, and the drift shows mostly there, where a ladder absorbs most
  of it: realistic, but it shows little of a test's power.
- "even" (time spread evenly): every point takes the same time, t_i =
  (i + 1/2) / N (a fast sweep, a multisine measurement), so the drift spans
  the whole spectrum.

Drift over noise is |change| % / sigma %. Much of such a drift is consistent
with a causal linear system; the part a test can see, "the drift's
residual", is what a chain of N/3 or N/2 elements with a series C and L over
the measured window leaves of the noise-free drifting spectrum (the rms
relative residual per part, the lower of the two), and the detections are
also binned by it over sigma.

Contenders:
- vorlane: the check's verdict, `valid` (an alarm where False).
- vorlane chi2/N: the same fits judged by a single threshold on their pseudo
  chi-square per point (what the verdict adds over a fixed threshold).
- mu rule (the baseline, timed in the same process): vorlane's fixed-m call
  `vorlane.kramers_kronig(f, z, m=k, capacitance=False, inductance=True)` for
  k = 1, 2, ... until mu < 0.85 (or the points allow no more elements, or
  k = 100).
- linKK, linKK+C: impedance.py's `impedance.validation.linKK(f, z)` with its
  defaults (c=0.85, max_M=50, fit_type="real") and with add_cap=True.
- pyimpspec: its automatic test, `pyimpspec.perform_kramers_kronig_test(
  pyimpspec.DataSet(f, z))` with its defaults, on the first 70 spectra
  (clean and both drifting families; two per kind and noise level): a
  median 9 s a spectrum, 14 to 17 s on average (its slowest take a minute).
The peers run in their own environments (bench/kramers_kronig_peers.py);
their results are read from bench/kramers_kronig_peers.json, keyed by a
fingerprint of each spectrum.

Verdicts of the contenders that give none: one threshold on the pseudo
chi-square per point (sum of the squared relative residuals of both parts
over the number of points), calibrated on the same clean spectra so that the
contender's false-alarm rate equals vorlane's there, or 2 % where vorlane's
is lower (the count of false alarms rounded to the nearest spectrum; the
threshold the geometric mean of the two clean values on either side). The
pseudo chi-square rather than the largest residual: drift moves a band of
low-frequency points together, which a sum of squares gathers while the
largest residual sees one point of it and is led by the largest noise draw
(which grows with the number of points); per point, so that spectra of 30 and
130 points share one threshold. Detections of both drifting families are
then compared at that same false-alarm rate (the same thresholds: the clean
spectra are the same). pyimpspec is calibrated on its subset, and linKK+C
again on the subset for a column beside it.

Agreement with pyimpspec (its verdict the calibrated one): the verdicts agree
when both flag or both pass; the numbers of elements agree when
|m_vorlane - m_pyimpspec| <= max(2, 0.25 m_pyimpspec). The noise table gives
vorlane's `noise` estimate (and pyimpspec's estimated percent noise) over the
true sigma per part.

Times are wall times of one call per spectrum: vorlane's check and the whole
mu-rule loop in this process (ratios against the mu rule's median); the
peers' as measured in their own runs.

Real spectra: the check on every spectrum of vorlane.datasets, the converted
ones and the instrument files (these need pandas): points, m, noise, systematic and threshold in % of |Z|,
the verdict, the outliers' indices (input order) and the largest residual.

    python bench/kramers_kronig.py [--quick] [--peers]

--quick: 3 spectra per kind and noise level (105, the pyimpspec subset
included; a few seconds); by default 30 (1050; about 20 s); --peers
runs bench/kramers_kronig_peers.py first (only the spectra without a result
in the cache; all of them, about an hour, with its --again; best run on
its own with nohup, see there). Use the built module (PYTHONPATH=. in a
source tree).
"""

from __future__ import annotations

import argparse
import math
import os
import platform
import statistics
import subprocess
import sys
import time
from dataclasses import dataclass, field
from pathlib import Path

import numpy as np

import vorlane
from capacitive_values import set_capacitive

HERE = Path(__file__).resolve().parent
CACHE = HERE / "kramers_kronig_peers.json"
SEED = 20240
FULL_PER_CELL = 30  # spectra per (kind, noise level) in the full run: 1050
QUICK_PER_CELL = 3  # 105; the pyimpspec subset included
PYIMPSPEC_SUBSET = 70  # the first spectra, each clean and drifting (both families): two per (kind, noise level)
MU_CUTOFF = 0.85
FLOOR_RATE = 0.02  # the peers' false-alarm rate where vorlane's is lower (or unknown)

# kind -> circuits (one drawn at random per spectrum)
KINDS: dict[str, tuple[str, ...]] = {
    "rc": ("R0-(R1,C1)",),
    "two_rq": ("R0-(R1,CPE1)-(R2,CPE2)",),
    "randles": ("R0-(R1-W1,CPE1)",),
    "inductive": ("L0-R0-(R1,CPE1)-(R2,CPE2)",),
    "blocking": ("R0-(R1,CPE1)-C2", "R0-(R1,CPE1)-CPE2"),
    "outside": ("R0-(R1,CPE1)-(R2,CPE2)",),
    "battery": ("L0-R0-(R1,CPE1)-(R2-W2,CPE2)",),
}
NOISE_LEVELS = (0.001, 0.0025, 0.005, 0.01, 0.02)  # standard deviation relative to |Z|, on each part
WINDOWS = ((1e-2, 1e5), (1e-1, 1e6), (1e-3, 1e4), (1e-2, 1e6), (1.0, 1e6), (1e-1, 1e5))
CYCLES = 2.0  # periods measured per point
MIN_POINT_SECONDS = 1.0  # settling and integration at high frequencies
DRIFT_RANGE = (0.01, 0.20)  # relative change of the drifting resistance over the sweep (log-uniform)
DRIFT_BINS = (0.0, 1.0, 2.0, 5.0, 10.0, 20.0, 50.0, math.inf)  # drift % over noise %
VISIBLE_BINS = (0.0, 0.1, 0.2, 0.5, 1.0, 2.0, math.inf)  # the drift's residual over the noise
FAMILIES = {"drift": "time as measured", "even": "time spread evenly"}  # the drifting states


@dataclass
class Sample:
    index: int
    kind: str
    circuit: str
    noise: float
    drift: float  # signed relative change of the drifting resistance from the first to the last point
    drifting: str  # the parameter that drifts, e.g. "R2.r"
    f: np.ndarray  # measurement order: highest frequency first
    clean: np.ndarray
    drifted: np.ndarray
    even: np.ndarray  # the same drift with the sweep's time spread evenly over the points
    exact: np.ndarray  # the three without noise
    drifted_exact: np.ndarray
    even_exact: np.ndarray

    def states(self) -> tuple[tuple[str, np.ndarray, np.ndarray], ...]:
        """(state, measured, noise-free): the clean spectrum and the two drift families."""
        return (("clean", self.clean, self.exact), ("drift", self.drifted, self.drifted_exact),
                ("even", self.even, self.even_exact))


def sweep_times(f: np.ndarray) -> np.ndarray:
    """Mid-point time of each point as a fraction of the whole sweep (points in measurement order)."""
    seconds = np.maximum(CYCLES / f, MIN_POINT_SECONDS)
    ends = np.cumsum(seconds)
    return (ends - 0.5 * seconds) / ends[-1]


def even_times(points: int) -> np.ndarray:
    """Mid-point times when every point takes the same time (a fast sweep, a multisine measurement)."""
    return (np.arange(points) + 0.5) / points


def drifting_impedance(circuit, values: list[float], position: int, drift: float, f: np.ndarray,
                       times: np.ndarray) -> np.ndarray:
    """Each point with the drifting parameter at its own time: values[position] * (1 + drift * t)."""
    out = np.empty(f.size, dtype=complex)
    for i, t in enumerate(times):
        point = list(values)
        point[position] *= 1.0 + drift * t
        out[i] = circuit.with_values(point).impedance(f[i:i + 1])[0]
    return out


def draw_values(kind: str, names: list[str], lo: float, hi: float, rng: np.random.Generator) -> dict[str, float]:
    """Element values for a window of log10 frequencies [lo, hi]."""
    arcs = sorted({int(n[1:].split(".")[0]) for n in names if n.startswith("R") and n != "R0.r"})
    # a low-frequency tail (diffusion, blocking) needs room below the arcs
    tail = kind in ("randles", "blocking", "battery")
    while True:
        # Arc apex frequencies (log10), highest first; a decade apart at least.
        bottom = lo + (1.5 if tail else 0.5)
        centres = np.sort(rng.uniform(bottom, hi - 0.5, len(arcs)))[::-1]
        if kind == "outside":
            # One arc centred up to a decade beyond an end of the window: partly measured.
            if rng.random() < 0.5:
                centres[0] = hi + rng.uniform(0.0, 1.0)
            else:
                centres[-1] = lo - rng.uniform(0.0, 1.0)
        if len(arcs) > 1 and np.min(-np.diff(centres)) < 1.0:
            continue
        break
    v = {"R0.r": 10.0 ** rng.uniform(-2.0, 2.0)}
    log_r = rng.uniform(-0.5, 1.5, len(arcs))
    omegas = 2 * math.pi * 10.0 ** centres
    for k, lr, w in zip(arcs, log_r, omegas):
        r = v["R0.r"] * 10.0 ** lr
        v[f"R{k}.r"] = r
        set_capacitive(v, names, k, r, w, lambda: rng.uniform(0.7, 1.0))
    w_min = 2 * math.pi * 10.0 ** lo
    r_last = v[f"R{arcs[-1]}.r"]
    for n in names:
        if n.endswith(".aw"):
            # the Warburg tail overtakes the arc's resistance up to a decade and a half above f_min
            v[n] = r_last * 10.0 ** rng.uniform(-0.3, 0.7) * math.sqrt(w_min)
        elif n == "L0.l":
            lowest = -1.0 if kind == "battery" else -0.5
            v[n] = v["R0.r"] * 10.0 ** rng.uniform(lowest, 0.5) / (2 * math.pi * 10.0 ** hi)
    if kind == "blocking":
        k = arcs[-1] + 1
        reach = r_last * 10.0 ** rng.uniform(0.0, 1.0)  # the blocking element's |Z| at f_min
        set_capacitive(v, names, k, reach, w_min, lambda: rng.uniform(0.8, 1.0))
    return v


def draw(index: int, seed: int = SEED) -> Sample:
    """Spectrum `index` of the benchmark: the same for a given seed in every run and subset."""
    kinds = list(KINDS)
    kind = kinds[index % len(kinds)]
    noise = NOISE_LEVELS[(index // len(kinds)) % len(NOISE_LEVELS)]
    rng = np.random.default_rng([seed, index])
    text = KINDS[kind][int(rng.integers(len(KINDS[kind])))]
    f_min, f_max = WINDOWS[int(rng.integers(len(WINDOWS)))]
    per_decade = int(rng.integers(5, 16))
    lo, hi = math.log10(f_min), math.log10(f_max)
    f = np.logspace(hi, lo, int(round((hi - lo) * per_decade)) + 1)
    circuit = vorlane.Circuit(text)
    names = circuit.param_names()
    values = draw_values(kind, names, lo, hi, rng)
    ordered = [values[n] for n in names]
    exact = np.asarray(circuit.with_values(ordered).impedance(f))
    arcs = [n for n in names if n.startswith("R") and n != "R0.r"]
    drifting = arcs[int(rng.integers(len(arcs)))]
    drift = float(math.exp(rng.uniform(*np.log(DRIFT_RANGE)))) * (1.0 if rng.random() < 0.5 else -1.0)
    position = names.index(drifting)
    drifted = drifting_impedance(circuit, ordered, position, drift, f, sweep_times(f))
    even = drifting_impedance(circuit, ordered, position, drift, f, even_times(f.size))
    e = rng.standard_normal(f.size) + 1j * rng.standard_normal(f.size)
    return Sample(index, kind, text, noise, drift, drifting, f, exact + noise * np.abs(exact) * e,
                  drifted + noise * np.abs(drifted) * e, even + noise * np.abs(even) * e, exact, drifted, even)


def visible_drift(f: np.ndarray, exact: np.ndarray) -> float:
    """What a ladder cannot absorb of the drift: the rms relative residual (per part) of the noise-free
    drifting spectrum fitted with N/3 or N/2 elements over the measured window, a series C and L (the
    lower of the two)."""
    best = math.inf
    for m in sorted({max(1, f.size // 3), max(1, f.size // 2)}):
        try:
            check = vorlane.kramers_kronig(f, exact, m=m, capacitance=True, inductance=True)
        except ValueError:
            continue
        best = min(best, math.sqrt(check.pseudo_chi_square / (2 * f.size)))
    return best


# ---------------------------------------------------------------- the contenders

@dataclass
class Outcome:
    stat: float  # pseudo chi-square per point
    m: int
    seconds: float
    alarm: bool | None = None  # judged not valid; None: no verdict (yet)
    extra: dict = field(default_factory=dict)


def run_vorlane(f: np.ndarray, z: np.ndarray) -> Outcome:
    t0 = time.perf_counter()
    check = vorlane.kramers_kronig(f, z)
    seconds = time.perf_counter() - t0
    fields = {"valid": bool(check.valid), "noise": float(check.noise), "systematic": float(check.systematic),
              "threshold": float(check.threshold), "outliers": np.asarray(check.outliers, dtype=bool)}
    return Outcome(check.pseudo_chi_square / f.size, check.m, seconds, not fields["valid"], {"check": check, **fields})


def run_mu_rule(f: np.ndarray, z: np.ndarray) -> Outcome:
    """The plain mu rule on vorlane's fixed-m call: m = 1, 2, ... until mu < 0.85."""
    t0 = time.perf_counter()
    last = None
    for m in range(1, 101):
        try:
            check = vorlane.kramers_kronig(f, z, m=m, capacitance=False, inductance=True)
        except ValueError:  # more elements than the points carry: the last one stands
            if last is None:
                raise
            break
        last = check
        if check.mu < MU_CUTOFF:
            break
    seconds = time.perf_counter() - t0
    assert last is not None
    return Outcome(last.pseudo_chi_square / f.size, last.m, seconds)


def cached_peer(entry: dict | None, label: str, points: int) -> Outcome | None:
    if entry is None or label not in entry or "error" in entry[label]:
        return None
    got = entry[label]
    return Outcome(got["pseudo_chi_square"] / points, got["m"], got["seconds"], extra=got)


def load_cache() -> dict:
    import json

    if not CACHE.exists():
        return {"about": {}, "spectra": {}}
    return json.loads(CACHE.read_text())


def calibrate(clean_stats: list[float], rate: float) -> float:
    """A threshold on the statistic that round(rate * n) of the clean spectra exceed."""
    values = sorted(clean_stats, reverse=True)
    alarms = min(round(rate * len(values)), len(values))
    if alarms == 0:
        return values[0] * (1 + 1e-12) if values else math.inf
    if alarms == len(values):
        return -math.inf
    high, low = values[alarms - 1], values[alarms]
    return math.sqrt(high * low) if high > 0 and low > 0 else 0.5 * (high + low)


# ---------------------------------------------------------------- the tables

def cell(alarms: list[bool | None]) -> str:
    known = [a for a in alarms if a is not None]
    if not known:
        return f"{'-':>15}"
    k, n = sum(known), len(known)
    return f"{100 * k / n:5.1f}% {k:>4}/{n:<4}"


def percentile(values: list[float], q: float) -> float:
    return float(np.percentile(values, q)) if values else math.nan


def binned(ratio: float, edges: tuple[float, ...]) -> int:
    return next(i for i in range(len(edges) - 1) if ratio < edges[i + 1])


def bin_rows(name: str, edges: tuple[float, ...], ratio) -> list:
    rows = []
    for i in range(len(edges) - 1):
        lo, hi = edges[i], edges[i + 1]
        label = f"{name} {lo:g}-{hi:g}" if math.isfinite(hi) else f"{name} >= {lo:g}"
        rows.append((label, lambda r, i=i: binned(ratio(r), edges) == i))
    return rows


def rate_table(title: str, rows, names: list[str], records: list[dict]) -> None:
    """rows: (label, predicate on a record); a column per contender, its alarm rate over the rows' records."""
    print(title)
    header = f"{'':<24}" + "".join(f"{name:>16}" for name in names)
    print(header)
    print("-" * len(header))
    for label, keep in rows:
        chosen = [r for r in records if keep(r)]
        if not chosen:
            continue
        print(f"{label:<24}" + "".join(
            f" {cell([r['out'][n].alarm for r in chosen if r['out'].get(n)])}" for n in names))
    print()


def apply_calibration(records: list[dict], name: str, reference: str | None, label: str) -> str:
    """Sets the alarms of contender `name` by one threshold on its pseudo chi-square per point, at the
    false-alarm rate of `reference` on the same clean spectra (FLOOR_RATE at least). Returns a note."""
    clean = [r for r in records if r["state"] == "clean" and r["out"].get(name)]
    if not clean:
        return f"{label}: no results in the cache (python bench/kramers_kronig.py --peers)"
    rate = FLOOR_RATE
    if reference is not None:
        known = [r["out"][reference].alarm for r in clean if r["out"].get(reference)
                 and r["out"][reference].alarm is not None]
        if known:
            rate = max(rate, sum(known) / len(known))
    threshold = calibrate([r["out"][name].stat for r in clean], rate)
    for r in records:
        if r["out"].get(name):
            r["out"][name].alarm = r["out"][name].stat > threshold
    return f"{label}: chi2/N > {threshold:.3g} (target false-alarm rate {100 * rate:.1f}% on {len(clean)} clean)"


def evaluate(count: int, cache: dict) -> tuple[list[dict], int]:
    from kramers_kronig_peers import fingerprint

    records, stale = [], 0
    for index in range(count):
        s = draw(index)
        for state, z, exact in s.states():
            key = f"{index}/{state}"
            entry = cache["spectra"].get(key)
            if entry is not None and entry.get("fingerprint") != fingerprint(s.f, z):
                entry, stale = None, stale + 1
            mine = run_vorlane(s.f, z)
            out: dict[str, Outcome | None] = {"vorlane": mine, "mu rule": run_mu_rule(s.f, z),
                                              "vorlane chi2/N": Outcome(mine.stat, mine.m, mine.seconds)}
            for label, name in (("linkk", "linKK"), ("linkk_cap", "linKK+C"), ("pyimpspec", "pyimpspec")):
                out[name] = cached_peer(entry, label, s.f.size)
            records.append({"sample": s, "state": state, "out": out,
                            "visible": visible_drift(s.f, exact) if state != "clean" else 0.0})
    return records, stale


def real_spectra() -> list[tuple[str, np.ndarray, np.ndarray]]:
    """Every bundled spectrum: the converted ones and the instrument files (read with pandas)."""
    return [(name, *vorlane.datasets.load_arrays(name)) for name in vorlane.datasets.names()]


def show(value, digits: str = ".3g") -> str:
    if value is None:
        return "-"
    if isinstance(value, bool):
        return "yes" if value else "no"
    return format(value, digits)


def real_table() -> None:
    print("real spectra: vorlane.kramers_kronig(f, z) with its defaults (noise, systematic, threshold, largest "
          "residual in % of |Z|)")
    header = (f"{'spectrum':<30} {'points':>6} {'m':>3} {'noise %':>8} {'syst. %':>8} {'thresh. %':>9} "
              f"{'valid':>6} {'max res. %':>10}  outliers")
    print(header)
    print("-" * len(header))
    for name, f, z in real_spectra():
        try:
            o = run_vorlane(f, z)
        except ValueError as error:
            print(f"{name:<30} {f.size:>6}  refused: {error}")
            continue
        e = o.extra
        outliers = ",".join(map(str, np.flatnonzero(e["outliers"]))) or "none"
        print(f"{name:<30} {f.size:>6} {o.m:>3} {show(e['noise']):>8} {show(e['systematic']):>8} "
              f"{show(e['threshold']):>9} {show(e['valid']):>6} {100 * e['check'].max_abs_residual:>10.3g}  {outliers}")
    print()


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--quick", action="store_true",
                        help=f"{QUICK_PER_CELL} spectra per kind and noise level instead of {FULL_PER_CELL}")
    parser.add_argument("--peers", action="store_true",
                        help="run the peers first on the spectra the cache lacks (bench/kramers_kronig_peers.py)")
    args = parser.parse_args()
    if args.peers:
        subprocess.run([sys.executable, str(HERE / "kramers_kronig_peers.py")], check=True)
    per_cell = QUICK_PER_CELL if args.quick else FULL_PER_CELL
    count = per_cell * len(KINDS) * len(NOISE_LEVELS)
    cache = load_cache()
    about = cache.get("about", {})
    print(f"vorlane {getattr(vorlane, '__version__', '?')}, numpy {np.__version__}, Python "
          f"{platform.python_version()}, {os.cpu_count()} cores, load average {os.getloadavg()[0]:.1f}; "
          f"{count} spectra (seed {SEED}), each clean and drifting in two ways")
    print("peers from bench/kramers_kronig_peers.json: " + "; ".join(
        f"{peer} " + ", ".join(f"{k} {v}" for k, v in about[peer].items()) for peer in ("linkk", "pyimpspec")
        if peer in about))
    print()
    started = time.perf_counter()
    records, stale = evaluate(count, cache)
    vorlane_seconds = time.perf_counter() - started
    missing = sum(1 for r in records if r["out"]["linKK"] is None)
    if stale or missing:
        print(f"{stale} peer entries stale, {missing} spectra without linKK results: "
              f"python bench/kramers_kronig.py --peers\n")
    failed = {label: sum(1 for r in records
                         if "error" in cache["spectra"].get(f"{r['sample'].index}/{r['state']}", {}).get(label, {}))
              for label in ("linkk", "linkk_cap", "pyimpspec")}
    if any(failed.values()):
        print("peer calls that raised (no verdict, left out): "
              + ", ".join(f"{label} {n}" for label, n in failed.items()) + "\n")

    subset = [r for r in records if r["sample"].index < PYIMPSPEC_SUBSET]
    cached = sum(1 for r in subset if r["out"]["pyimpspec"] is not None)
    if cached < len(subset):
        print(f"pyimpspec: {cached} of the subset's {len(subset)} spectra in the cache\n")
    notes = [apply_calibration(records, name, "vorlane", name) for name in ("vorlane chi2/N", "mu rule", "linKK",
                                                                           "linKK+C")]
    # pyimpspec on its subset, calibrated there; the others again on the subset alone
    subset_out = [{**r, "out": {n: (Outcome(o.stat, o.m, o.seconds, o.alarm, o.extra) if o else None)
                               for n, o in r["out"].items()}} for r in subset]
    notes += [apply_calibration(subset_out, name, "vorlane", f"{name} (subset)")
              for name in ("pyimpspec", "linKK+C")]

    clean = [r for r in records if r["state"] == "clean"]
    print("false alarms of vorlane's verdict on the clean spectra, by kind and noise level (sigma per part, "
          "% of |Z|)")
    header = f"{'kind':<12}" + "".join(f"{100 * n:>15g}%" for n in NOISE_LEVELS) + f"{'all':>16}"
    print(header)
    print("-" * len(header))
    for kind in [*KINDS, "all"]:
        row = [r for r in clean if kind in ("all", r["sample"].kind)]
        print(f"{kind:<12}" + "".join(
            f" {cell([r['out']['vorlane'].alarm for r in row if r['sample'].noise == n])}" for n in NOISE_LEVELS)
            + f" {cell([r['out']['vorlane'].alarm for r in row])}")
    print()
    names = ["vorlane", "vorlane chi2/N", "mu rule", "linKK", "linKK+C"]
    print("calibrated verdicts (alarm: the statistic above one threshold):")
    for note in notes:
        print("  " + note)
    print()
    by_kind = [(f"kind {k}", lambda r, k=k: r["sample"].kind == k) for k in KINDS]
    by_noise = [(f"noise {100 * n:g}%", lambda r, n=n: r["sample"].noise == n) for n in NOISE_LEVELS]
    everything = [("all", lambda r: True)]
    rate_table(f"false alarms on the {len(clean)} clean spectra", by_kind + by_noise + everything, names, clean)
    bins = bin_rows("drift/noise", DRIFT_BINS, lambda r: abs(r["sample"].drift) / r["sample"].noise)
    visible = bin_rows("residual/noise", VISIBLE_BINS, lambda r: r["visible"] / r["sample"].noise)
    signs = [("resistance grows", lambda r: r["sample"].drift > 0),
             ("resistance shrinks", lambda r: r["sample"].drift < 0)]
    for state, about in FAMILIES.items():
        drifting = [r for r in records if r["state"] == state]
        rate_table(f"detections of drift on the {len(drifting)} drifting spectra, {about} (drift % / noise %)",
                   bins + visible + signs + by_kind + everything, names, drifting)
        shares = [r["visible"] / abs(r["sample"].drift) for r in drifting]
        above = sum(1 for r in drifting if r["visible"] >= r["sample"].noise)
        print(f"the drift's residual (what a ladder of N/2 elements leaves of the noise-free drifting spectrum, "
              f"rms per part) is a median {100 * statistics.median(shares):.2g}% of the drift [5th-95th "
              f"percentile {100 * percentile(shares, 5):.2g}-{100 * percentile(shares, 95):.2g}%], at the noise "
              f"or above in {above} of {len(drifting)}\n")
    subset_names = ["vorlane", "pyimpspec", "linKK+C"]
    subset_clean = [r for r in subset_out if r["state"] == "clean"]
    rate_table(f"pyimpspec subset, clean ({len(subset_clean)}): false alarms", by_noise + everything,
               subset_names, subset_clean)
    for state, about in FAMILIES.items():
        drifting = [r for r in subset_out if r["state"] == state]
        rate_table(f"pyimpspec subset, drifting ({len(drifting)}), {about}: detections",
                   bins + visible + everything, subset_names, drifting)
    agreement(subset_out)
    noise_table(records, subset_out)
    timing(records)
    print(f"vorlane's part (drawing, vorlane and the mu rule on {len(records)} spectra): "
          f"{vorlane_seconds:.1f} s\n")
    real_table()


def agreement(subset: list[dict]) -> None:
    print("agreement with pyimpspec's automatic test (its verdict: the calibrated threshold above; m agrees when "
          "|m - m_pyimpspec| <= max(2, 0.25 m_pyimpspec))")
    header = f"{'':<10} {'spectra':>7} {'verdict agrees':>16} {'m agrees':>16} {'median m':>9} {'pyimpspec':>10}"
    print(header)
    print("-" * len(header))
    for state in ("clean", *FAMILIES, "all"):
        rows = [r for r in subset if state in ("all", r["state"]) and r["out"]["pyimpspec"]]
        if not rows:
            continue
        pairs = [(r["out"]["vorlane"], r["out"]["pyimpspec"]) for r in rows]
        verdicts = [None if v.alarm is None else v.alarm == p.alarm for v, p in pairs]
        ms = [abs(v.m - p.m) <= max(2.0, 0.25 * p.m) for v, p in pairs]
        print(f"{state:<10} {len(rows):>7} {cell(verdicts):>16} {cell(ms):>16} "
              f"{statistics.median(v.m for v, _ in pairs):>9g} {statistics.median(p.m for _, p in pairs):>10g}")
    print()


def noise_table(records: list[dict], subset: list[dict]) -> None:
    """Median estimated noise over the true sigma per part, by noise level."""
    print("noise estimates over the true sigma (per part), median [5th-95th percentile]")
    header = (f"{'noise':<8} {'vorlane, clean':>22} {'vorlane, drifting':>22} {'vorlane, even drift':>22} "
              f"{'pyimpspec, clean (subset)':>28}")
    print(header)
    print("-" * len(header))
    for level in NOISE_LEVELS:
        def spread(rows, name, key):
            values = [r["out"][name].extra.get(key) for r in rows
                      if r["sample"].noise == level and r["out"].get(name)]
            values = [v / (100 * level) for v in values if v is not None]
            if not values:
                return "-"
            return f"{statistics.median(values):.2f} [{percentile(values, 5):.2f}-{percentile(values, 95):.2f}]"
        print(f"{100 * level:<7g}% {spread([r for r in records if r['state'] == 'clean'], 'vorlane', 'noise'):>22} "
              f"{spread([r for r in records if r['state'] == 'drift'], 'vorlane', 'noise'):>22} "
              f"{spread([r for r in records if r['state'] == 'even'], 'vorlane', 'noise'):>22} "
              f"{spread([r for r in subset if r['state'] == 'clean'], 'pyimpspec', 'noise_percent'):>28}")
    print()


def milliseconds(seconds: float) -> str:
    return f"{1e3 * seconds:.0f}" if seconds >= 1.0 else f"{1e3 * seconds:.3g}"


def timing(records: list[dict]) -> None:
    print("time per spectrum (wall; the peers' from the cache, measured in their own environments)")
    base = statistics.median(r["out"]["mu rule"].seconds for r in records)
    header = f"{'contender':<12} {'spectra':>7} {'median ms':>10} {'95th pct ms':>12} {'median / mu rule':>17}"
    print(header)
    print("-" * len(header))
    for name in ("vorlane", "mu rule", "linKK", "linKK+C", "pyimpspec"):
        times = [r["out"][name].seconds for r in records if r["out"].get(name)]
        if not times:
            continue
        median = statistics.median(times)
        print(f"{name:<12} {len(times):>7} {milliseconds(median):>10} {milliseconds(percentile(times, 95)):>12} "
              f"{median / base:>16.3g}x")
    print()


if __name__ == "__main__":
    main()
