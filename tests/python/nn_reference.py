"""A numpy reference of the guess network, to check the module against.

The features and the de-normalisation come from training.features (the
inputs the networks are trained on); this file adds the forward pass:
convolution stem, residual blocks of dilated convolutions with group
normalisation and GELU, mean and max pooling, and the fully connected head.
Convolution sums run in the module's order (input row, then tap), so the
two agree to rounding of the transcendental functions.
"""

from __future__ import annotations

import sys
from pathlib import Path

import numpy as np

sys.path.append(str(Path(__file__).resolve().parents[2]))

from training.eisnn_format import decode_eisnn  # noqa: E402
from training.features import from_outputs, reactive_centroid, spectrum_features  # noqa: E402


def gelu(x: np.ndarray) -> np.ndarray:
    return 0.5 * x * (1.0 + np.tanh(0.7978845608028654 * (x + 0.044715 * (x * x * x))))


class ReferenceNetwork:
    """One weight file, decoded; `guess` runs features, network and units."""

    def __init__(self, data: bytes) -> None:
        meta, records = decode_eisnn(data)
        self.meta = dict(meta)
        self.tensors = {name: values for name, _, _, values in records}
        self.n_grid = int(self.meta["n_grid"])
        self.channels = int(self.meta["channels"])
        self.kernel = int(self.meta["kernel"])
        self.groups = int(self.meta["groups"])
        self.dilations = [int(piece) for piece in self.meta["dilations"].split(",")]
        self.param_names = self.meta["param_names"].split(",")

    def _layer(self, name: str) -> tuple[np.ndarray, np.ndarray]:
        return self.tensors[f"w.{name}.weight"], self.tensors[f"w.{name}.bias"].ravel()

    def conv1d(self, name: str, x: np.ndarray, dilation: int) -> np.ndarray:
        weight, bias = self._layer(name)
        weight = weight.reshape(self.channels, x.shape[0], self.kernel)
        length = self.n_grid
        padding = dilation * (self.kernel - 1) // 2
        y = np.repeat(bias[:, None], length, axis=1).astype(np.float64)
        for j in range(x.shape[0]):
            for k in range(self.kernel):
                taps = weight[:, j, k]
                used = taps != 0.0  # zero taps never touch the input
                shift = dilation * k - padding
                lo, hi = max(0, -shift), min(length, length - shift)
                if not used.any() or lo >= hi:
                    continue
                y[used, lo:hi] += taps[used, None] * x[j, lo + shift:hi + shift][None, :]
        return y

    def group_norm(self, name: str, x: np.ndarray) -> np.ndarray:
        gamma, beta = self._layer(name)
        per_group = self.channels // self.groups
        out = x.copy()
        for g in range(self.groups):
            rows = slice(g * per_group, (g + 1) * per_group)
            block = x[rows]
            mean = block.sum() / block.size
            variance = ((block - mean) ** 2).sum() / block.size
            scale = 1.0 / np.sqrt(variance + 1e-5)
            out[rows] = scale * (block - mean) * gamma.ravel()[rows, None] + beta[rows, None]
        return out

    def linear(self, name: str, x: np.ndarray) -> np.ndarray:
        weight, bias = self._layer(name)
        return bias + weight @ x

    def outputs(self, matrix: np.ndarray, meta: tuple[float, float]) -> np.ndarray:
        """The first P raw outputs of the head for one feature matrix."""
        x = self.conv1d("stem", matrix, 1)
        for i, dilation in enumerate(self.dilations):
            h = gelu(self.group_norm(f"blocks.{i}.norm1", self.conv1d(f"blocks.{i}.conv1", x, dilation)))
            h = self.group_norm(f"blocks.{i}.norm2", self.conv1d(f"blocks.{i}.conv2", h, dilation))
            x = gelu(x + h)
        row_max = np.where(np.isnan(x), -np.inf, x).max(axis=1)
        pooled = np.concatenate([x.mean(axis=1), row_max, meta])
        h = gelu(self.linear("head.0", pooled))
        h = gelu(self.linear("head.2", h))
        return self.linear("head.4", h)[:len(self.param_names)]

    def guess(self, frequencies: np.ndarray, impedances: np.ndarray) -> np.ndarray:
        """Parameter values in the file's "param_names" order and physical units."""
        z_scale, w_scale = reactive_centroid(frequencies, impedances)
        matrix, meta = spectrum_features(frequencies, impedances, z_scale, w_scale, self.n_grid)
        p = len(self.param_names)
        return from_outputs(self.outputs(matrix, meta), z_scale, w_scale,
                            self.tensors["scaling"].reshape(p, 4), self.tensors["log_params"].ravel() != 0.0,
                            self.tensors["target_mean"].ravel(), self.tensors["target_std"].ravel())
