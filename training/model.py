"""The guess network in PyTorch, layer for layer the module's forward pass.

Attribute names follow the weight file's tensor names ("stem",
"blocks.<i>.conv1", ..., "head.4"), so a state dict exports without renaming.
"""

from __future__ import annotations

import torch
from torch import nn

from training.registry import DILATIONS, GROUPS, KERNEL


class ResidualBlock(nn.Module):
    def __init__(self, channels: int, dilation: int) -> None:
        super().__init__()
        padding = dilation * (KERNEL - 1) // 2
        self.conv1 = nn.Conv1d(channels, channels, KERNEL, padding=padding, dilation=dilation)
        self.norm1 = nn.GroupNorm(GROUPS, channels, eps=1e-5)
        self.conv2 = nn.Conv1d(channels, channels, KERNEL, padding=padding, dilation=dilation)
        self.norm2 = nn.GroupNorm(GROUPS, channels, eps=1e-5)
        self.act = nn.GELU(approximate="tanh")

    def forward(self, x: torch.Tensor) -> torch.Tensor:
        h = self.act(self.norm1(self.conv1(x)))
        h = self.norm2(self.conv2(h))
        return self.act(x + h)


class GuessNet(nn.Module):
    """Conv stem, dilated residual blocks, mean+max pooling with meta, MLP head.

    The head has 2P outputs: P standardised parameter values (the only ones the
    module reads) and P log-variances of their errors.
    """

    def __init__(self, channels: int, n_params: int) -> None:
        super().__init__()
        self.stem = nn.Conv1d(3, channels, KERNEL, padding=(KERNEL - 1) // 2)
        self.blocks = nn.ModuleList(ResidualBlock(channels, d) for d in DILATIONS)
        hidden = 4 * channels
        self.head = nn.Sequential(
            nn.Linear(2 * channels + 2, hidden), nn.GELU(approximate="tanh"),
            nn.Linear(hidden, hidden), nn.GELU(approximate="tanh"),
            nn.Linear(hidden, 2 * n_params),
        )
        self.n_params = n_params

    def forward(self, features: torch.Tensor, meta: torch.Tensor) -> torch.Tensor:
        x = self.stem(features)
        for block in self.blocks:
            x = block(x)
        pooled = torch.cat([x.mean(dim=2), x.amax(dim=2), meta], dim=1)
        return self.head(pooled)


def guess_loss(outputs: torch.Tensor, targets: torch.Tensor) -> torch.Tensor:
    """Huber loss on the values plus a Gaussian likelihood for the log-variances.

    The variance term sees the value errors detached, so learning how
    uncertain a sample is never pulls the values themselves towards the easy
    samples; the values keep a plain robust regression loss.
    """
    p = targets.shape[1]
    mean, log_var = outputs[:, :p], outputs[:, p:].clamp(-8.0, 4.0)
    value_loss = nn.functional.smooth_l1_loss(mean, targets, beta=0.5)
    squared = (targets - mean).detach().square()
    variance_loss = (0.5 * squared * torch.exp(-log_var) + 0.5 * log_var).mean()
    return value_loss + 0.1 * variance_loss
