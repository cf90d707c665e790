"""vorlane's zero-configuration fit against impedance.py and pyimpspec on the bundled real spectra.

Every converted spectrum of vorlane.datasets (the instrument files left out:
they repeat some of these) is fitted with one circuit:

- the six dummy cells: R0-(R1,C1), the physical circuit they are;
- li_ion_cell: L0-R0-(R1,CPE1)-(R2-Wo2,CPE2), the two arcs and diffusion
  tail of its description with an inductor, as its six highest frequencies
  are inductive;
- gamry_cell: R0-(R1,CPE1)-(R2,CPE2) (no inductive point);
- autolab_cell: L0-R0-(R1,CPE1)-(R2,CPE2) (inductive above 2 kHz).

vorlane fits each with `vorlane.Circuit(text).fit(f, z)`: no starting values,
no options (the baseline of every ratio). The peers get each peer's
documented fitting call with its defaults, from these starting values:

- "guess": what a user computes from the Nyquist plot, the same for both
  peers: R0 = the real part at the highest frequency with a capacitive
  (negative) imaginary part, the total width W = Re Z at the lowest
  frequency minus R0, shared equally among the other resistors and the
  Warburg z0; one arc per (R, C or CPE) pair at the tallest maxima of -Im Z
  (an end of the frequency range counts where -Im Z still rises towards
  it), the highest-frequency arc first, with C = 1/(w R) and a CPE of
  alpha = 0.8 and q = 1/(R w^0.8) at the apex frequency w = 2 pi f; the
  Warburg tau = 1/(2 pi f_min); L0 = Im Z / w at the highest frequency;
- "vorlane x2": vorlane's own fitted values perturbed, every other value
  doubled and the others halved (exponents multiplied by 0.8), so that
  finding the optimum and speed are told apart;
- "defaults" (pyimpspec only): no values at all, pyimpspec's own element
  defaults, its nearest to a zero-configuration fit (impedance.py requires
  `initial_guess`).

The calls: impedance.py `CustomCircuit(text, initial_guess=...).fit(f, z)`
(scipy's curve_fit; by default it minimises unweighted residuals in ohms, so
it is also run with its documented `weight_by_modulus=True`, the weighting
vorlane minimises); pyimpspec `fit_circuit(parse_cdc(text), DataSet(f, z))`
with method="auto" and weight="auto" (its defaults: every method and
weighting it offers, the result with the lowest pseudo chi-squared kept; that
pseudo chi-squared is twice the cost below, which the script checks), and
with its `weight="modulus"` alone (every method still tried). pyimpspec's
weightings are its own: its documentation gives no formula, and its
"modulus" fits do not end at the minimum of the cost below.

Costs are compared on one measure, vorlane's: 0.5 * sum over points of
|(Z_model - Z)/|Z||^2 (real and imaginary parts), computed here for every
fitted parameter set with `vorlane.Circuit(text).with_values(params)
.impedance(f)` after mapping the peer's parameters back. The element formulas
are the same in the three (checked on every spectrum before timing: the
three impedances of the starting values agree to 1e-9); pyimpspec's open
Warburg Wo(Y, B, n=0.5 fixed) is vorlane's Wo(z0, tau) with B = tau and
Y = tau / z0^2. A peer reaches vorlane's cost when its cost is at most
(1 + 1e-6) times vorlane's, and beats it below (1 - 1e-6) times; the summary
also counts the higher ones within 0.1 % (a looser stopping tolerance rather
than another minimum). A peer that raises counts as an error, with the
exception named.

Times are wall times of the whole call (circuit construction included) in
this process: vorlane's the median of at least 5 fits and 0.5 s, each
peer's the median of 3 calls, or of 1 where the first took over 5 s.

    python bench/peers.py [--only NAME,...] [--peer-repeats N]
"""

from __future__ import annotations

import argparse
import contextlib
import functools
import io
import math
import os
import platform
import re
import statistics
import sys
import time
import warnings
from importlib import metadata
from pathlib import Path

import numpy as np

import vorlane

# bench/impedance.py would hide the impedance package: the script's own folder
# leaves the module search path before the peers are imported.
HERE = Path(__file__).resolve().parent
sys.path[:] = [entry for entry in sys.path if Path(entry or ".").resolve() != HERE]

try:
    import pyimpspec
    from impedance.models.circuits import CustomCircuit
except ImportError as error:  # pragma: no cover - a message for the benchmark's user
    raise SystemExit(f"bench/peers.py needs the peers installed: pip install impedance pyimpspec ({error})")

REACHED = 1e-6
CLOSE = 1e-3  # the summary also counts fits that end within 0.1 % of vorlane's cost
SLOW_PEER_SECONDS = 5.0

# Each spectrum's circuit (the dummy cells share one).
CIRCUIT_OF = {
    "li_ion_cell": "L0-R0-(R1,CPE1)-(R2-Wo2,CPE2)",
    "gamry_cell": "R0-(R1,CPE1)-(R2,CPE2)",
    "autolab_cell": "L0-R0-(R1,CPE1)-(R2,CPE2)",
}
DUMMY_CIRCUIT = "R0-(R1,C1)"

# The same circuits in each peer's syntax (same element order).
IMPEDANCE_PY = {
    "R0-(R1,C1)": "R0-p(R1,C1)",
    "L0-R0-(R1,CPE1)-(R2-Wo2,CPE2)": "L0-R0-p(R1,CPE1)-p(R2-Wo2,CPE2)",
    "R0-(R1,CPE1)-(R2,CPE2)": "R0-p(R1,CPE1)-p(R2,CPE2)",
    "L0-R0-(R1,CPE1)-(R2,CPE2)": "L0-R0-p(R1,CPE1)-p(R2,CPE2)",
}
PYIMPSPEC = {
    "R0-(R1,C1)": "R(RC)",
    "L0-R0-(R1,CPE1)-(R2-Wo2,CPE2)": "LR(RQ)([RWo]Q)",
    "R0-(R1,CPE1)-(R2,CPE2)": "R(RQ)(RQ)",
    "L0-R0-(R1,CPE1)-(R2,CPE2)": "LR(RQ)(RQ)",
}
# vorlane element code -> pyimpspec symbol.
PYIMPSPEC_SYMBOL = {"R": "R", "C": "C", "L": "L", "CPE": "Q", "Wo": "Wo"}

CONTENDERS = [
    # (peer, start, weighting) -- weighting None is the peer's default
    ("impedance.py", "guess", None),
    ("impedance.py", "guess", "modulus"),
    ("impedance.py", "vorlane x2", None),
    ("impedance.py", "vorlane x2", "modulus"),
    ("pyimpspec", "guess", None),
    ("pyimpspec", "guess", "modulus"),
    ("pyimpspec", "vorlane x2", None),
    ("pyimpspec", "vorlane x2", "modulus"),
    ("pyimpspec", "defaults", None),
]


def contender_label(peer: str, start: str, weighting: str | None) -> str:
    return f"{peer} {start}" + (", modulus" if weighting else "")


def circuit_for(name: str) -> str:
    return DUMMY_CIRCUIT if name.startswith("dummy_cell") else CIRCUIT_OF[name]


def element_labels(circuit: vorlane.Circuit) -> list[tuple[str, list[int]]]:
    """The circuit's elements in parameter order: (element code, parameter indices)."""
    labels: dict[str, list[int]] = {}
    for index, name in enumerate(circuit.param_names()):
        labels.setdefault(name.split(".")[0], []).append(index)
    return [(re.match(r"[A-Za-z]+", label).group(0), indices) for label, indices in labels.items()]


def cost(circuit_text: str, params, f, z) -> float:
    """vorlane's cost (modulus weighting) of a parameter vector in vorlane's order."""
    model = vorlane.Circuit(circuit_text).with_values(list(map(float, params))).impedance(f)
    r = (model - z) / np.abs(z)
    return float(0.5 * np.sum(r.real ** 2 + r.imag ** 2))


# ---------------------------------------------------------------- starting values

def arc_apexes(f, z, count: int) -> list[float]:
    """Apex frequencies of `count` arcs, highest first: the tallest maxima of -Im Z
    over the capacitive points (an end of the range counts where -Im Z rises towards it)."""
    order = np.argsort(f)
    fs, height = f[order], -z.imag[order]
    keep = height > 0
    fs, height = fs[keep], height[keep]
    candidates = []
    for i in range(len(fs)):
        left = height[i - 1] if i > 0 else -np.inf
        right = height[i + 1] if i + 1 < len(fs) else -np.inf
        if height[i] > left and height[i] > right:
            candidates.append(i)
    candidates.sort(key=lambda i: -height[i])
    chosen = [fs[i] for i in candidates[:count]]
    while len(chosen) < count:  # fewer maxima than arcs: spread the rest over the range
        chosen.append(math.sqrt(fs[0] * fs[-1]) * 10.0 ** (len(chosen) - count / 2))
    return sorted(chosen, reverse=True)


def data_guess(circuit_text: str, f, z) -> list[float]:
    circuit = vorlane.Circuit(circuit_text)
    elements = element_labels(circuit)
    by_frequency = np.argsort(f)[::-1]
    capacitive = [i for i in by_frequency if z[i].imag < 0]
    r0 = float(z[capacitive[0]].real)
    width = float(z[np.argmin(f)].real) - r0
    sharing = sum(1 for code, _ in elements if code in ("R", "Wo")) - 1  # R0 excluded
    share = width / sharing
    arcs = sum(1 for code, _ in elements if code in ("C", "CPE"))
    apexes = iter(arc_apexes(f, z, arcs))
    top = int(np.argmax(f))
    values = [0.0] * len(circuit.param_names())
    first_resistor = True
    for code, indices in elements:
        if code == "R":
            values[indices[0]] = r0 if first_resistor else share
            first_resistor = False
        elif code == "L":
            values[indices[0]] = max(z[top].imag, 1e-3 * abs(z[top])) / (2 * np.pi * f[top])
        elif code == "C":
            values[indices[0]] = 1 / (2 * np.pi * next(apexes) * share)
        elif code == "CPE":
            omega = 2 * np.pi * next(apexes)
            values[indices[0]], values[indices[1]] = 1 / (share * omega ** 0.8), 0.8
        elif code == "Wo":
            values[indices[0]], values[indices[1]] = share, 1 / (2 * np.pi * float(np.min(f)))
        else:
            raise ValueError(f"no guess rule for element {code}")
    return values


def perturbed(circuit_text: str, params: list[float]) -> list[float]:
    names = vorlane.Circuit(circuit_text).param_names()
    out = []
    for i, (name, value) in enumerate(zip(names, params)):
        if name.endswith(".alpha"):
            out.append(value * 0.8)
        else:
            out.append(value * (2.0 if i % 2 == 0 else 0.5))
    return out


# ---------------------------------------------------------------- the peers

def pyimpspec_circuit(circuit_text: str, params: list[float] | None):
    circuit = pyimpspec.parse_cdc(PYIMPSPEC[circuit_text])
    if params is None:
        return circuit
    elements = element_labels(vorlane.Circuit(circuit_text))
    peer_elements = circuit.get_elements()
    for (code, indices), element in zip(elements, peer_elements):
        p = [params[i] for i in indices]
        if code == "CPE":
            element.set_values(Y=p[0], n=p[1])
        elif code == "Wo":
            element.set_values(Y=p[1] / p[0] ** 2, B=p[1])
        else:
            element.set_values(**{PYIMPSPEC_SYMBOL[code]: p[0]})
    return circuit


def from_pyimpspec(circuit_text: str, circuit) -> list[float]:
    elements = element_labels(vorlane.Circuit(circuit_text))
    params = [0.0] * sum(len(indices) for _, indices in elements)
    for (code, indices), element in zip(elements, circuit.get_elements()):
        v = element.get_values()
        if code == "CPE":
            got = [v["Y"], v["n"]]
        elif code == "Wo":
            if v["n"] != 0.5:
                raise ValueError("pyimpspec moved the fixed Warburg exponent")
            got = [math.sqrt(v["B"] / v["Y"]), v["B"]]
        else:
            got = [v[PYIMPSPEC_SYMBOL[code]]]
        for i, value in zip(indices, got):
            params[i] = float(value)
    return params


def check_translations(circuit_text: str, params: list[float], f) -> None:
    """The three libraries give the same impedances for the same parameters."""
    ours = vorlane.Circuit(circuit_text).with_values(params).impedance(f)
    theirs = {
        "impedance.py": quietly(lambda: CustomCircuit(IMPEDANCE_PY[circuit_text], initial_guess=params)
                                .predict(f, use_initial=True)),
        "pyimpspec": pyimpspec_circuit(circuit_text, params).get_impedances(f),
    }
    codes = [code for code, _ in element_labels(vorlane.Circuit(circuit_text))]
    symbols = [e.get_symbol() for e in pyimpspec.parse_cdc(PYIMPSPEC[circuit_text]).get_elements()]
    if symbols != [PYIMPSPEC_SYMBOL[c] for c in codes]:
        raise SystemExit(f"{circuit_text}: pyimpspec's elements {symbols} do not match {codes}")
    for peer, z in theirs.items():
        error = float(np.max(np.abs(z - ours) / np.abs(ours)))
        if not error < 1e-9:
            raise SystemExit(f"{circuit_text}: {peer} disagrees with vorlane by {error:.3g} (relative)")
    # round trip of the parameter mapping
    back = from_pyimpspec(circuit_text, pyimpspec_circuit(circuit_text, params))
    if not np.allclose(back, params, rtol=1e-12, atol=0):
        raise SystemExit(f"{circuit_text}: the pyimpspec parameter mapping does not round-trip")


def fit_impedance_py(circuit_text, start, weighting, f, z) -> tuple[list[float], None]:
    model = CustomCircuit(IMPEDANCE_PY[circuit_text], initial_guess=list(start))
    if weighting == "modulus":
        model.fit(f, z, weight_by_modulus=True)
    else:
        model.fit(f, z)
    return [float(v) for v in model.parameters_], None


def fit_pyimpspec(circuit_text, start, weighting, f, z) -> tuple[list[float], float]:
    """The fitted parameters in vorlane's order and pyimpspec's own pseudo chi-squared."""
    circuit = pyimpspec_circuit(circuit_text, start)
    if weighting == "modulus":
        result = pyimpspec.fit_circuit(circuit, pyimpspec.DataSet(f, z), weight="modulus")
    else:
        result = pyimpspec.fit_circuit(circuit, pyimpspec.DataSet(f, z))
    return from_pyimpspec(circuit_text, result.circuit), float(result.pseudo_chisqr)


def quietly(call):
    """Runs `call` with the peers' warnings and progress output swallowed."""
    with warnings.catch_warnings(), contextlib.redirect_stdout(io.StringIO()), \
            contextlib.redirect_stderr(io.StringIO()):
        warnings.simplefilter("ignore")
        return call()


def timed_peer(call, repeats: int):
    """(median wall seconds, result or exception)."""
    times = []
    outcome = None
    for _ in range(repeats):
        t0 = time.perf_counter()
        try:
            outcome = quietly(call)
        except Exception as error:  # noqa: BLE001 - a peer failure is a result here
            outcome = error
        times.append(time.perf_counter() - t0)
        if isinstance(outcome, Exception) or times[0] > SLOW_PEER_SECONDS:
            break
    return statistics.median(times), outcome


def timed_vorlane(circuit_text, f, z):
    result = vorlane.Circuit(circuit_text).fit(f, z)  # warm-up
    times = []
    started = time.perf_counter()
    while len(times) < 5 or (time.perf_counter() - started < 0.5 and len(times) < 500):
        t0 = time.perf_counter()
        vorlane.Circuit(circuit_text).fit(f, z)
        times.append(time.perf_counter() - t0)
    return statistics.median(times), result


# ---------------------------------------------------------------- the table

def verdict(peer_cost: float, reference: float) -> str:
    if not math.isfinite(peer_cost):
        return "nonsense (cost not finite)"
    if peer_cost < reference * (1 - REACHED):
        return f"beat ({100 * (peer_cost / reference - 1):+.2g}%)"
    if peer_cost <= reference * (1 + REACHED):
        return "yes"
    return f"no ({100 * (peer_cost / reference - 1):+.3g}%)"


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--only", help="comma-separated dataset names (default: every converted spectrum)")
    parser.add_argument("--peer-repeats", type=int, default=3, help="calls per peer fit that takes under 5 s")
    args = parser.parse_args()
    names = vorlane.datasets.names(instrument_files=False)
    if args.only:
        names = [n for n in names if n in args.only.split(",")]

    versions = {p: metadata.version(p) for p in ("impedance", "pyimpspec", "numpy", "scipy")}
    print(f"vorlane {getattr(vorlane, '__version__', '?')}, impedance.py {versions['impedance']}, "
          f"pyimpspec {versions['pyimpspec']}, numpy {versions['numpy']}, scipy {versions['scipy']}, "
          f"Python {platform.python_version()}, {os.cpu_count()} cores (pyimpspec's default processes: "
          f"{pyimpspec.get_default_num_procs()}), "
          f"load average {os.getloadavg()[0]:.1f} at the start")
    print("cost: 0.5 * sum |(Z_model - Z)/|Z||^2, vorlane's modulus-weighted cost, for every contender's "
          "fitted parameters")
    print()
    header = (f"{'spectrum':<15} {'circuit':<30} {'vorlane cost':>12} {'ms':>7}  {'peer, start':<34} "
              f"{'peer cost':>12} {'s':>7} {'x slower':>9}  reached vorlane's cost")
    print(header)
    print("-" * len(header))
    sys.stdout.flush()

    tallies = {contender_label(*c): {"yes": 0, "beat": 0, "no": 0, "close": 0, "error": 0, "ratios": []}
               for c in CONTENDERS}
    pseudo_mismatch = 0.0  # pyimpspec's pseudo chi-squared against twice the cost computed here
    for name in names:
        f, z = vorlane.datasets.load_arrays(name)
        circuit_text = circuit_for(name)
        v_time, v_result = timed_vorlane(circuit_text, f, z)
        v_params = [v_result.params[n] for n in v_result.circuit.param_names()]
        v_cost = cost(circuit_text, v_params, f, z)
        if not math.isclose(v_cost, v_result.cost, rel_tol=1e-9):
            raise SystemExit(f"{name}: the cost computed here, {v_cost}, is not vorlane's {v_result.cost}")
        guess = data_guess(circuit_text, f, z)
        check_translations(circuit_text, guess, f)
        check_translations(circuit_text, v_params, f)
        starts = {"guess": guess, "vorlane x2": perturbed(circuit_text, v_params), "defaults": None}
        first = True
        for peer, start_name, weighting in CONTENDERS:
            start = starts[start_name]
            fit = fit_impedance_py if peer == "impedance.py" else fit_pyimpspec
            call = functools.partial(fit, circuit_text, start, weighting, f, z)
            seconds, outcome = timed_peer(call, args.peer_repeats)
            label = contender_label(peer, start_name, weighting)
            tally = tallies[label]
            ratio = seconds / v_time
            if isinstance(outcome, Exception):
                peer_cost_text, flag = "-", f"error: {type(outcome).__name__}: {str(outcome).splitlines()[0][:60]}"
                tally["error"] += 1
            else:
                params, pseudo_chisqr = outcome
                peer_cost = cost(circuit_text, params, f, z)
                if pseudo_chisqr is not None:
                    pseudo_mismatch = max(pseudo_mismatch, abs(pseudo_chisqr / (2 * peer_cost) - 1))
                peer_cost_text = f"{peer_cost:12.6g}"
                flag = verdict(peer_cost, v_cost)
                tally["yes" if flag == "yes" else "beat" if flag.startswith("beat") else "no"] += 1
                tally["close"] += flag.startswith("no") and peer_cost <= v_cost * (1 + CLOSE)
                tally["ratios"].append(ratio)
            lead = (f"{name:<15} {circuit_text:<30} {v_cost:12.6g} {v_time * 1e3:7.2f}" if first
                    else f"{'':<15} {'':<30} {'':>12} {'':>7}")
            first = False
            print(f"{lead}  {label:<34} {peer_cost_text:>12} {seconds:7.2f} {ratio:8.0f}x  {flag}")
            sys.stdout.flush()
    print("-" * len(header))
    for label, tally in tallies.items():
        ratios = tally["ratios"]
        total = tally["yes"] + tally["beat"] + tally["no"] + tally["error"]
        span = (f"{min(ratios):.0f}x to {max(ratios):.0f}x slower, median {statistics.median(ratios):.0f}x"
                if ratios else "no fit")
        print(f"summary {label:<34}: reached {tally['yes']}/{total}, beat {tally['beat']}, worse {tally['no']} "
              f"({tally['close']} of them within {CLOSE:g}), errors {tally['error']}; {span}")
    for peer in ("impedance.py", "pyimpspec"):
        ratios = [r for label, t in tallies.items() if label.startswith(peer + " ") for r in t["ratios"]]
        print(f"summary {peer:<34}: {min(ratios):.0f}x to {max(ratios):.0f}x slower than vorlane, "
              f"median {statistics.median(ratios):.0f}x")
    count = {key: sum(t[key] for t in tallies.values()) for key in ("yes", "beat", "no", "close", "error")}
    total = count["yes"] + count["beat"] + count["no"] + count["error"]
    all_ratios = [r for t in tallies.values() for r in t["ratios"]]
    print(f"summary all: of {total} peer fits, {count['yes']} reached vorlane's cost, {count['beat']} beat it, "
          f"{count['no']} ended higher ({count['close']} within {CLOSE:g}), {count['error']} raised: vorlane ties or "
          f"beats {total - count['beat']}/{total}; peers {min(all_ratios):.0f}x to {max(all_ratios):.0f}x slower "
          f"(median {statistics.median(all_ratios):.0f}x)")
    print(f"pyimpspec's own pseudo chi-squared of each result is twice the cost above to within "
          f"{pseudo_mismatch:.1g} (relative): the measure by which it chooses among its fits")

if __name__ == "__main__":
    main()
