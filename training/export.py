"""Writing a trained network as an "EISNN001" weight file.

    python -m training.export rc            # runs/rc/final.pt -> models/rc.eisnn
"""

from __future__ import annotations

import argparse
from pathlib import Path

import numpy as np

from training.eisnn_format import BINARY16, BINARY32, Meta, TensorRecord, encode_eisnn
from training.registry import (ALPHA_MAX, ALPHA_MIN, BY_NAME, DILATIONS, ESTIMATOR, GROUPS, KERNEL, N_GRID,
                               Topology)

REPO = Path(__file__).resolve().parent.parent


def layer_names() -> list[str]:
    names = ["stem"]
    for i in range(len(DILATIONS)):
        names += [f"blocks.{i}.{layer}" for layer in ("conv1", "norm1", "conv2", "norm2")]
    return names + ["head.0", "head.2", "head.4"]


def metadata(topology: Topology) -> Meta:
    return [
        ("circuit", topology.circuit),
        ("param_names", ",".join(topology.param_names)),
        ("estimator", ESTIMATOR),
        ("n_grid", str(N_GRID)),
        ("channels", str(topology.channels)),
        ("kernel", str(KERNEL)),
        ("groups", str(GROUPS)),
        ("dilations", ",".join(str(d) for d in DILATIONS)),
        ("alpha_min", repr(ALPHA_MIN)),
        ("alpha_max", repr(ALPHA_MAX)),
    ]


def weight_file_bytes(topology: Topology, state: dict[str, np.ndarray], target_mean: np.ndarray,
                      target_std: np.ndarray) -> bytes:
    """The file of a network whose state dict holds numpy arrays under the layer names."""
    records: list[TensorRecord] = []
    for layer in layer_names():
        for part in ("weight", "bias"):
            values = np.asarray(state[f"{layer}.{part}"], dtype=np.float64)
            records.append((f"w.{layer}.{part}", BINARY16, values.shape, values))
    p = topology.n_params
    records += [
        ("target_mean", BINARY32, (p,), np.asarray(target_mean, dtype=np.float64)),
        ("target_std", BINARY32, (p,), np.asarray(target_std, dtype=np.float64)),
        ("scaling", BINARY32, (p, 4), topology.scaling),
        ("log_params", BINARY32, (p,), topology.log_params.astype(np.float64)),
    ]
    return encode_eisnn(metadata(topology), records)


def checkpoint_bytes(topology: Topology, checkpoint: dict) -> bytes:
    state = {key: value.detach().cpu().double().numpy() for key, value in checkpoint["model"].items()}
    return weight_file_bytes(topology, state, checkpoint["target_mean"], checkpoint["target_std"])


def export(name: str, checkpoint_path: Path, out_path: Path) -> int:
    import torch

    topology = BY_NAME[name]
    checkpoint = torch.load(checkpoint_path, map_location="cpu", weights_only=False)
    data = checkpoint_bytes(topology, checkpoint)
    if len(data) != topology.file_bytes:
        raise RuntimeError(f"{name}: {len(data)} bytes, the registry expects {topology.file_bytes}")
    out_path.write_bytes(data)
    return len(data)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("names", nargs="+", choices=sorted(BY_NAME))
    parser.add_argument("--runs", type=Path, default=REPO / "training" / "runs")
    parser.add_argument("--out", type=Path, default=REPO / "models")
    args = parser.parse_args()
    for name in args.names:
        size = export(name, args.runs / name / "final.pt", args.out / f"{name}.eisnn")
        print(f"{name}: {size} bytes")


if __name__ == "__main__":
    main()
