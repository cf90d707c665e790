"""Time of one machine-learning guess per bundled model.

For every name of Circuit.ml_circuits(): the median thread CPU time of
`Circuit.guess` on a 60-point spectrum of that circuit (its parser
placeholder values, 10 mHz to 100 kHz). The "features" column is the same
call through a weight file of the smallest network the format allows (8
channels, one per group, and a head 1 wide) with all weights zero: every
layer works on 8 x 64 values, so what is left is about the spectrum
features, the call and the topology match. Models that are
not built into the module are reported as missing, with the module's
message.

    python bench/guess.py [--repeat N]
"""

from __future__ import annotations

import argparse
import statistics
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

import vorlane

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))

from training.zero_network import zero_network_bytes  # noqa: E402

FREQS = np.logspace(-2, 5, 60)


def median_time(call, repeat: int) -> float:
    call()  # loads the network once; not timed
    times = []
    for _ in range(repeat):
        t0 = time.thread_time()
        call()
        times.append(time.thread_time() - t0)
    return statistics.median(times)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--repeat", type=int, default=200, help="timed guesses per model")
    args = parser.parse_args()
    header = f"{'model':<15} {'P':>2} {'guess us':>10} {'features us':>12} {'network share':>14}"
    print(header)
    print("-" * len(header))
    missing = []
    with tempfile.TemporaryDirectory() as tmp:
        for name in vorlane.Circuit.ml_circuits():
            circuit = vorlane.Circuit(name)
            z = circuit.impedance(FREQS)
            path = Path(tmp) / f"{name}_zeros.eisnn"
            path.write_bytes(zero_network_bytes(name, channels=8, hidden=1))
            features = median_time(lambda: circuit.guess(FREQS, z, weights=str(path)), args.repeat)
            try:
                guess = median_time(lambda: circuit.guess(FREQS, z), args.repeat)
            except ValueError as error:
                missing.append((name, str(error)))
                print(f"{name:<15} {len(circuit.param_names()):>2} {'missing':>10} {features * 1e6:>12.1f}")
                continue
            share = 1 - features / guess
            print(f"{name:<15} {len(circuit.param_names()):>2} {guess * 1e6:>10.1f} {features * 1e6:>12.1f} "
                  f"{share:>13.0%}")
    print("-" * len(header))
    for name, message in missing:
        print(f"missing model {name}: {message}")


if __name__ == "__main__":
    main()
