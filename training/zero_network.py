"""Weight files of networks whose weights are all zero, for tests and benchmarks.

Such a network predicts the target means (zero here), so its guess is the
spectrum's own impedance and time scales put into each parameter's units;
its convolutions cost nothing because zero weights are skipped.
"""

from __future__ import annotations

import numpy as np

from training.eisnn_format import BINARY32, encode_eisnn
from training.export import layer_names, metadata
from training.registry import BY_NAME


def zero_network_bytes(name: str, channels: int = 8, hidden: int = 8, circuit: str | None = None) -> bytes:
    """The file for registry topology `name` with `channels` channels (a
    multiple of the eight groups) and a head `hidden` wide; `circuit`
    replaces the topology's circuit text in the metadata."""
    topology = BY_NAME[name]
    p = topology.n_params
    replaced = {"channels": str(channels)}
    if circuit is not None:
        replaced["circuit"] = circuit
    meta = [(key, replaced.get(key, value)) for key, value in metadata(topology)]
    head_shapes = {"stem": (channels, 3, 5), "head.0": (hidden, 2 * channels + 2), "head.2": (hidden, hidden),
                   "head.4": (2 * p, hidden)}
    records = []
    for layer in layer_names():
        if "conv" in layer:
            shape = (channels, channels, 5)
        elif "norm" in layer:
            shape = (channels,)
        else:
            shape = head_shapes[layer]
        records.append((f"w.{layer}.weight", BINARY32, shape, np.zeros(shape)))
        records.append((f"w.{layer}.bias", BINARY32, shape[:1], np.zeros(shape[:1])))
    records += [
        ("target_mean", BINARY32, (p,), np.zeros(p)),
        ("target_std", BINARY32, (p,), np.ones(p)),
        ("scaling", BINARY32, (p, 4), topology.scaling),
        ("log_params", BINARY32, (p,), topology.log_params.astype(np.float64)),
    ]
    return encode_eisnn(meta, records)
