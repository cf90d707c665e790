"""The PyTorch prediction of a weight file, the yardstick for the module's guess.

The network is rebuilt in float64 from the file's own (binary16-rounded)
tensors, fed with the features of features.py and de-normalised as the
module does it, so module and reference must agree to rounding.
"""

from __future__ import annotations

from pathlib import Path

import numpy as np
import torch

from training.eisnn_format import decode_eisnn
from training.features import from_outputs, reactive_centroid, spectrum_features
from training.model import GuessNet
from training.registry import BY_NAME, Topology


def load_reference(data: bytes) -> tuple[Topology, GuessNet, dict[str, np.ndarray]]:
    """Topology, float64 network and required tensors of a weight file's bytes."""
    meta, records = decode_eisnn(data)
    circuit = dict(meta)["circuit"]
    topology = next(t for t in BY_NAME.values() if t.circuit == circuit)
    tensors = {name: np.asarray(values, dtype=np.float64) for name, _, _, values in records}
    model = GuessNet(topology.channels, topology.n_params).double()
    state = {name[2:]: torch.from_numpy(values) for name, values in tensors.items() if name.startswith("w.")}
    model.load_state_dict(state)
    model.eval()
    return topology, model, tensors


def reference_guess(path: str | Path, frequencies: np.ndarray, impedances: np.ndarray) -> np.ndarray:
    """Parameter values in the file's param_names order."""
    topology, model, tensors = load_reference(Path(path).read_bytes())
    z_scale, w_scale = reactive_centroid(frequencies, impedances)
    matrix, meta = spectrum_features(frequencies, impedances, z_scale, w_scale)
    with torch.no_grad():
        outputs = model(torch.from_numpy(matrix[None]), torch.tensor([meta], dtype=torch.float64)).numpy()[0]
    return from_outputs(outputs[:topology.n_params], z_scale, w_scale, tensors["scaling"].reshape(-1, 4),
                        tensors["log_params"] != 0, tensors["target_mean"], tensors["target_std"])
