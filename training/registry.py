"""The eleven bundled topologies: circuit, parameter order, kinds and file size.

A parameter's kind decides how the network's dimensionless output is given
its units (the `scaling` row) and whether it is predicted as a logarithm.
"""

from __future__ import annotations

from dataclasses import dataclass

import numpy as np

# (z_exponent, w_exponent, coupling) of each kind; a CPE coefficient is
# additionally coupled to its own exponent, whose index fills the fourth value.
SCALING_BY_KIND = {
    "r": (1.0, 0.0, 0.0),
    "c": (-1.0, -1.0, 0.0),
    "l": (1.0, -1.0, 0.0),
    "q": (-1.0, 0.0, -1.0),
    "alpha": (0.0, 0.0, 0.0),
    "aw": (1.0, 0.5, 0.0),
    "tau": (0.0, -1.0, 0.0),
}

# Kind of a parameter from its name after the label ("R0.r" -> "r").
KIND_BY_PARAM = {"r": "r", "c": "c", "l": "l", "q": "q", "alpha": "alpha", "aw": "aw", "z0": "r", "tau": "tau"}

ESTIMATOR = "reactive_centroid"
N_GRID = 64
KERNEL = 5
GROUPS = 8
DILATIONS = (1, 2, 4, 8)
ALPHA_MIN = 0.05
ALPHA_MAX = 1.0


@dataclass(frozen=True)
class Topology:
    name: str
    circuit: str
    param_names: tuple[str, ...]
    channels: int
    file_bytes: int

    @property
    def n_params(self) -> int:
        return len(self.param_names)

    @property
    def kinds(self) -> tuple[str, ...]:
        return tuple(KIND_BY_PARAM[p.split(".", 1)[1]] for p in self.param_names)

    @property
    def log_params(self) -> np.ndarray:
        return np.array([kind != "alpha" for kind in self.kinds])

    @property
    def scaling(self) -> np.ndarray:
        """One (z_exponent, w_exponent, coupling, coupled) row per parameter."""
        rows = []
        for name, kind in zip(self.param_names, self.kinds):
            coupled = -1
            if kind == "q":
                coupled = self.param_names.index(name.split(".")[0] + ".alpha")
            rows.append((*SCALING_BY_KIND[kind], float(coupled)))
        return np.array(rows, dtype=np.float64)

    def has(self, kind: str) -> bool:
        return kind in self.kinds


def _topology(name: str, circuit: str, params: str, channels: int, file_bytes: int) -> Topology:
    return Topology(name, circuit, tuple(params.split(",")), channels, file_bytes)


TOPOLOGIES = (
    _topology("rc", "R0-(R1,C1)", "R0.r,R1.r,C1.c", 16, 37039),
    _topology("rc_l", "L0-R0-(R1,C1)", "L0.l,R0.r,R1.r,C1.c", 32, 138455),
    _topology("rq", "R0-(R1,CPE1)", "R0.r,R1.r,CPE1.q,CPE1.alpha", 32, 138462),
    _topology("rq_l", "L0-R0-(R1,CPE1)", "L0.l,R0.r,R1.r,CPE1.q,CPE1.alpha", 32, 139014),
    _topology("two_rc", "R0-(R1,C1)-(R2,C2)", "R0.r,R1.r,C1.c,R2.r,C2.c", 32, 139009),
    _topology("two_rc_l", "L0-R0-(R1,C1)-(R2,C2)", "L0.l,R0.r,R1.r,C1.c,R2.r,C2.c", 32, 139561),
    _topology("two_rq", "R0-(R1,CPE1)-(R2,CPE2)",
              "R0.r,R1.r,CPE1.q,CPE1.alpha,R2.r,CPE2.q,CPE2.alpha", 32, 140127),
    _topology("two_rq_l", "L0-R0-(R1,CPE1)-(R2,CPE2)",
              "L0.l,R0.r,R1.r,CPE1.q,CPE1.alpha,R2.r,CPE2.q,CPE2.alpha", 32, 140679),
    _topology("randles", "R0-(R1-W1,CPE1)", "R0.r,R1.r,W1.aw,CPE1.q,CPE1.alpha", 32, 139015),
    _topology("sei_randles", "R0-(R1,CPE1)-(R2-W2,CPE2)",
              "R0.r,R1.r,CPE1.q,CPE1.alpha,R2.r,W2.aw,CPE2.q,CPE2.alpha", 64, 541576),
    _topology("sei_randles_wo", "R0-(R1,CPE1)-(R2-Wo2,CPE2)",
              "R0.r,R1.r,CPE1.q,CPE1.alpha,R2.r,Wo2.z0,Wo2.tau,CPE2.q,CPE2.alpha", 64, 542642),
)

BY_NAME = {topology.name: topology for topology in TOPOLOGIES}
