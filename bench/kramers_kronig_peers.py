"""The peers of bench/kramers_kronig.py, each run in an environment of its own; results cached.

Writes bench/kramers_kronig_peers.json, which bench/kramers_kronig.py reads:
for every spectrum of the full run (clean and both drifting families)
impedance.py's `impedance.validation.linKK(f, z)` with its defaults (c=0.85,
max_M=50, fit_type="real", add_cap=False) and with add_cap=True; for the
first PYIMPSPEC_SUBSET spectra of the list (clean and both drifting
families: two per kind and noise level) pyimpspec's automatic test,
`pyimpspec.perform_kramers_kronig_test(pyimpspec.DataSet(f, z))` with its
defaults (test="real", the number of RC
elements, the extension of the time-constant range and the immittance chosen
automatically, a series C and L added). Each entry keeps the number of
elements, the pseudo chi-square (sum over points of the squared relative
residuals of both parts), the largest relative residual, the peer's own noise
estimate where it has one, and the wall time of the call; it is keyed by the
spectrum's index and a fingerprint of its frequencies and impedances, so that
a changed generator shows as stale entries rather than wrong ones. A run
calls the peers only on the spectra whose entry lacks their result (new or
stale ones; a peer's error counts as a result), or on all of them with
--again.

The peers do not share vorlane's environment: linKK needs numpy < 2 (it
fails on numpy 2), while vorlane's module is built for numpy 2. This script
draws the spectra in vorlane's environment, writes them to a temporary file,
and runs itself as a worker in each peer's virtual environment, made under
/tmp on first use (`python3 -m venv`, then pip: pyimpspec; impedance with
numpy<2, scipy<1.14, pandas<2.3, altair, matplotlib, which it imports).

All of it (--again) takes about an hour on the two-core development
machine: pyimpspec a median 9 s per spectrum, 14 to 17 s on average (its
slowest over a minute; the 70 spectra of the even drift took 1190 s in the
last run, which shared the machine with other work: 210 spectra in all),
linKK 0.07 s per call (2 settings x 3150 spectra; 1050 of them took 254 s).
The peers run one after the other, a single worker at a time. Run it in the
background:

    nohup python bench/kramers_kronig_peers.py > /tmp/kk_peers.log 2>&1 &
    python bench/kramers_kronig_peers.py [--only linkk,pyimpspec] [--subset N]
        [--again] [--pyimpspec-python PATH] [--linkk-python PATH]

(`python bench/kramers_kronig.py --peers` runs it in the foreground.)
"""

from __future__ import annotations

import argparse
import hashlib
import io
import json
import os
import platform
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import Any

import numpy as np

HERE = Path(__file__).resolve().parent
CACHE = HERE / "kramers_kronig_peers.json"
ENVIRONMENTS = {
    "pyimpspec": (Path("/tmp/kk_pyimpspec"), ["pyimpspec"]),
    "linkk": (Path("/tmp/kk_linkk"), ["numpy<2", "scipy<1.14", "pandas<2.3", "altair", "matplotlib",
                                               "impedance"]),
}
SAVE_EVERY_SECONDS = 30.0


def fingerprint(f: np.ndarray, z: np.ndarray) -> str:
    """The spectrum to single precision: the same on any machine that draws the same spectrum."""
    digest = hashlib.sha256(np.ascontiguousarray(f, dtype=np.float32).tobytes())
    digest.update(np.ascontiguousarray(z, dtype=np.complex64).tobytes())
    return digest.hexdigest()[:16]


def summary(residuals_real: np.ndarray, residuals_imag: np.ndarray) -> dict:
    rr, ri = np.asarray(residuals_real, dtype=float), np.asarray(residuals_imag, dtype=float)
    return {"pseudo_chi_square": float(np.sum(rr ** 2 + ri ** 2)),
            "max_abs_residual": float(max(np.max(np.abs(rr)), np.max(np.abs(ri))))}


# ---------------------------------------------------------------- workers (peer environments)

def work(peer: str, source: str) -> None:
    """Reads the spectra from `source` and prints one JSON line per result."""
    # bench/impedance.py would hide the impedance package.
    sys.path[:] = [entry for entry in sys.path if Path(entry or ".").resolve() != HERE]
    import warnings
    warnings.simplefilter("ignore")
    data = np.load(source)
    keys = [str(k) for k in data["keys"]]
    if peer == "linkk":
        from impedance.validation import linKK

        def runs(f, z):
            for label, options in (("linkk", {}), ("linkk_cap", {"add_cap": True})):
                t0 = time.perf_counter()
                m, mu, _, rr, ri = linKK(f, z, **options)
                yield label, {"m": int(m), "mu": float(mu), **summary(rr, ri),
                              "seconds": time.perf_counter() - t0}
    else:
        import pyimpspec

        def runs(f, z):
            t0 = time.perf_counter()
            result = pyimpspec.perform_kramers_kronig_test(pyimpspec.DataSet(f, z))
            seconds = time.perf_counter() - t0
            _, real_percent, imag_percent = result.get_residuals_data()
            entry = summary(np.asarray(real_percent) / 100, np.asarray(imag_percent) / 100)
            # its own pseudo chi-square, for the record (the same measure)
            yield "pyimpspec", {"m": int(result.num_RC), **entry,
                                "own_pseudo_chi_square": float(result.pseudo_chisqr),
                                "noise_percent": float(result.get_estimated_percent_noise()),
                                "admittance": bool(result.was_tested_on_admittance()),
                                "log_F_ext": float(result.log_F_ext), "seconds": seconds}
    out = sys.stdout
    sys.stdout = io.StringIO()  # linKK prints its progress
    for i, key in enumerate(keys):
        f, z = data[f"f{i}"], data[f"z{i}"]
        try:
            for label, entry in runs(f, z):
                print(json.dumps({"key": key, "peer": label, **entry}), file=out, flush=True)
                sys.stdout.seek(0)
                sys.stdout.truncate()
        except Exception as error:  # noqa: BLE001 - a peer failure is a result here
            labels = ("linkk", "linkk_cap") if peer == "linkk" else ("pyimpspec",)
            for label in labels:
                print(json.dumps({"key": key, "peer": label,
                                  "error": f"{type(error).__name__}: {str(error).splitlines()[0][:100]}"}),
                      file=out, flush=True)


# ---------------------------------------------------------------- the driver (vorlane's environment)

def environment(peer: str, given: str | None) -> str:
    if given:
        return given
    folder, packages = ENVIRONMENTS[peer]
    python = folder / "bin" / "python"
    if not python.exists():
        print(f"making {folder} for {peer} ...", flush=True)
        subprocess.run([sys.executable if sys.base_prefix == sys.prefix else "python3", "-m", "venv", str(folder)],
                       check=True)
        subprocess.run([str(python), "-m", "pip", "install", "--quiet", *packages], check=True)
    return str(python)


def versions(python: str, packages: list[str]) -> dict:
    code = ("import json, sys; from importlib import metadata; "
            f"print(json.dumps({{p: metadata.version(p) for p in {packages!r}}}))")
    return json.loads(subprocess.run([python, "-c", code], capture_output=True, text=True, check=True).stdout)


def load_cache() -> dict:
    if CACHE.exists():
        return json.loads(CACHE.read_text())
    return {"about": {}, "spectra": {}}


def rounded(value):
    """Six significant digits: the cache stays small and reads the same."""
    if isinstance(value, float):
        return float(f"{value:.6g}")
    if isinstance(value, dict):
        return {k: rounded(v) for k, v in value.items()}
    return value


def save_cache(cache: dict) -> None:
    """One line per spectrum, keys sorted."""
    lines = [f"{json.dumps(key)}: {json.dumps(rounded(cache['spectra'][key]), sort_keys=True)}"
             for key in sorted(cache["spectra"], key=lambda k: (int(k.split("/")[0]), k))]
    temporary = CACHE.with_suffix(".tmp")
    temporary.write_text('{"about": ' + json.dumps(cache.get("about", {}), sort_keys=True) + ',\n"spectra": {\n'
                         + ",\n".join(lines) + "\n}}\n")
    temporary.replace(CACHE)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--only", default="linkk,pyimpspec", help="comma-separated peers: linkk,pyimpspec")
    parser.add_argument("--subset", type=int, default=None,
                        help="spectra (each clean and in both drift families) for pyimpspec")
    parser.add_argument("--pyimpspec-python", default=None, help="interpreter of an environment with pyimpspec")
    parser.add_argument("--linkk-python", default=None, help="interpreter of an environment with impedance")
    parser.add_argument("--again", action="store_true",
                        help="run every spectrum again, not only those without a result in the cache")
    parser.add_argument("--worker", choices=["linkk", "pyimpspec"], help=argparse.SUPPRESS)
    parser.add_argument("--input", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.worker:
        work(args.worker, args.input)
        return

    import kramers_kronig as bench  # vorlane's environment from here on

    count = bench.FULL_PER_CELL * len(bench.KINDS) * len(bench.NOISE_LEVELS)
    subset = args.subset if args.subset is not None else bench.PYIMPSPEC_SUBSET
    samples = [bench.draw(i) for i in range(count)]
    cache = load_cache()
    cache.setdefault("about", {})["machine"] = (f"Python {platform.python_version()}, {os.cpu_count()} cores, "
                                                f"{platform.machine()}")
    for peer in args.only.split(","):
        python = environment(peer, getattr(args, f"{peer}_python"))
        packages = ["impedance", "numpy", "scipy"] if peer == "linkk" else ["pyimpspec", "numpy", "scipy"]
        cache["about"][peer] = versions(python, packages)
        chosen = samples if peer == "linkk" else samples[:subset]
        labels = ("linkk", "linkk_cap") if peer == "linkk" else ("pyimpspec",)
        with tempfile.TemporaryDirectory() as folder:
            source = Path(folder) / "spectra.npz"
            arrays: dict[str, Any] = {}
            keys: list[str] = []
            cached = 0
            for s in chosen:
                for state, z, _ in s.states():
                    key, mark = f"{s.index}/{state}", fingerprint(s.f, z)
                    if cache["spectra"].get(key, {}).get("fingerprint") != mark:
                        cache["spectra"][key] = {"fingerprint": mark}  # drawn anew: old results dropped
                    elif not args.again and all(label in cache["spectra"][key] for label in labels):
                        cached += 1  # a result (or the peer's error) kept from an earlier run
                        continue
                    arrays[f"f{len(keys)}"], arrays[f"z{len(keys)}"] = s.f, z
                    keys.append(key)
            print(f"{peer}: {len(keys)} spectra with {python} ({cached} cached)", flush=True)
            if not keys:
                save_cache(cache)
                continue
            arrays["keys"] = np.array(keys)
            np.savez(source, **arrays)
            started = saved = time.perf_counter()
            done = 0
            with subprocess.Popen([python, str(Path(__file__).resolve()), "--worker", peer, "--input", str(source)],
                                  stdout=subprocess.PIPE, text=True) as worker:
                assert worker.stdout is not None
                for line in worker.stdout:
                    entry = json.loads(line)
                    key, label = entry.pop("key"), entry.pop("peer")
                    cache["spectra"][key][label] = entry
                    done += 1
                    if time.perf_counter() - saved > SAVE_EVERY_SECONDS:
                        save_cache(cache)
                        saved = time.perf_counter()
                        print(f"{peer}: {done} results, {time.perf_counter() - started:.0f} s", flush=True)
            save_cache(cache)
            if worker.returncode:
                raise SystemExit(f"{peer}: the worker failed ({worker.returncode})")
            print(f"{peer}: done, {done} results in {time.perf_counter() - started:.0f} s", flush=True)


if __name__ == "__main__":
    main()
