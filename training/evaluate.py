"""Quality of the bundled networks on held-out synthetic spectra and on real data.

    python -m training.evaluate                 # every model, 500 spectra each
    python -m training.evaluate rc --count 100

Guesses and guessed fits use the files in models/ (passed as `weights`, so a
freshly trained file is measured without rebuilding the module; the bundled
copy is the same bytes). A fit counts as reaching the global optimum when its
cost is at most the cost at the true parameters times (1 + 1e-3), plus 1e-10
per point so that noise-free spectra, whose true cost is zero up to rounding,
are judged by a relative misfit of about 1e-5. The same test applied to fits
started from the true values shows how often the fitter itself can get there;
"where reachable" is the share of those spectra that the guessed fit solves.
"""

from __future__ import annotations

import argparse
import warnings
from dataclasses import dataclass, field
from pathlib import Path

import numpy as np

from training.export import REPO
from training.features import reactive_centroid, spectrum_features
from training.generate import Generator, spectra
from training.registry import BY_NAME, TOPOLOGIES, Topology

EVALUATION_SEED = 20_240_601
OPTIMUM_SLACK = 1e-3
COST_FLOOR_PER_POINT = 1e-10
KIND_LABELS = {"r": "R", "c": "C", "q": "CPE q", "alpha": "alpha", "l": "L", "aw": "W aw", "tau": "Wo tau"}

# Reference fits of the physical R-(R||C) test circuits (vorlane/datasets/data/README.md).
DUMMY_CELLS = {"a": (29.1, 46.7, 1.04e-5), "b": (150.0, 502.0, 3.12e-8), "c": (1510.0, 4630.0, 2.02e-8)}
# The topology each real spectrum is compared with for feature coverage.
REAL_TOPOLOGY = {"dummy_cell_a_1": "rc", "dummy_cell_a_2": "rc", "dummy_cell_b_1": "rc", "dummy_cell_b_2": "rc",
                 "dummy_cell_c_1": "rc", "dummy_cell_c_2": "rc", "li_ion_cell": "sei_randles_wo",
                 "gamry_cell": "randles", "autolab_cell": "two_rq_l"}


@dataclass
class ModelQuality:
    name: str
    errors: dict[str, list[float]] = field(default_factory=dict)
    optimum_guessed: int = 0
    optimum_placeholder: int = 0
    optimum_from_truth: int = 0
    optimum_when_reachable: int = 0
    count: int = 0


def weights_path(name: str) -> str:
    return str(REPO / "models" / f"{name}.eisnn")


def cost(circuit, params, f, z) -> float:
    r = np.asarray(circuit.residuals(list(params), f, z))
    return 0.5 * float(np.dot(r, r))


def fit_cost(circuit, f, z, **options) -> float:
    try:
        return circuit.fit(f, z, **options).cost
    except ValueError:
        return float("inf")


def evaluate_model(topology: Topology, count: int) -> ModelQuality:
    import vorlane

    circuit = vorlane.Circuit(topology.name)
    quality = ModelQuality(topology.name, {kind: [] for kind in topology.kinds}, count=count)
    path = weights_path(topology.name)
    for spectrum in spectra(topology, count, EVALUATION_SEED):
        f, z, truth = spectrum.frequencies, spectrum.impedances, spectrum.params
        guess = np.array(circuit.guess(f, z, weights=path))
        for kind, g, t in zip(topology.kinds, guess, truth):
            quality.errors[kind].append(abs(g - t) if kind == "alpha" else abs(float(np.log10(g / t))))
        limit = cost(circuit, truth, f, z) * (1.0 + OPTIMUM_SLACK) + COST_FLOOR_PER_POINT * f.size
        guessed = fit_cost(circuit, f, z, weights=path) <= limit
        with warnings.catch_warnings():
            # A few drawn values lie below their lower bound (C of 7.5e-13 F);
            # the fit moves such a start inside, which is expected here.
            warnings.filterwarnings("ignore", message="starting values that are not finite or not inside")
            reachable = fit_cost(circuit.with_values(list(truth)), f, z) <= limit
        quality.optimum_guessed += guessed
        quality.optimum_placeholder += fit_cost(circuit, f, z, guess_init=False) <= limit
        quality.optimum_from_truth += reachable
        quality.optimum_when_reachable += guessed and reachable
    return quality


def quality_table(results: list[ModelQuality]) -> str:
    kinds = [k for k in KIND_LABELS if any(k in r.errors for r in results)]
    head = ["model", "global optimum (guess)", "(placeholders)", "(true values)", "(guess, where reachable)"]
    head += [f"{KIND_LABELS[k]} median / p90" for k in kinds]
    lines = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
    for r in results:
        cells = [r.name, f"{100.0 * r.optimum_guessed / r.count:.1f} %",
                 f"{100.0 * r.optimum_placeholder / r.count:.1f} %", f"{100.0 * r.optimum_from_truth / r.count:.1f} %",
                 f"{100.0 * r.optimum_when_reachable / max(r.optimum_from_truth, 1):.1f} %"]
        for kind in kinds:
            values = r.errors.get(kind)
            cells.append(f"{np.median(values):.3f} / {np.percentile(values, 90):.3f}" if values else "")
        lines.append("| " + " | ".join(cells) + " |")
    return "\n".join(lines)


def measured_spectrum(name: str) -> tuple[np.ndarray, np.ndarray]:
    """Frequencies and impedances of a spectrum bundled with vorlane (vorlane.datasets)."""
    import vorlane

    return vorlane.datasets.load_arrays(name)


def real_data_table() -> str:
    import vorlane

    rc = vorlane.Circuit("rc")
    lines = ["| spectrum | guessed-fit cost | reference-fit cost | cost difference | largest value difference |",
             "|---|---|---|---|---|"]
    for cell, reference in DUMMY_CELLS.items():
        for sweep in (1, 2):
            name = f"dummy_cell_{cell}_{sweep}"
            f, z = measured_spectrum(name)
            guessed = rc.fit(f, z, weights=weights_path("rc"))
            from_reference = rc.with_values(list(reference)).fit(f, z)
            keys = rc.param_names()
            spread = max(abs(guessed.params[k] / from_reference.params[k] - 1.0) for k in keys)
            relative = abs(guessed.cost - from_reference.cost) / from_reference.cost
            lines.append(f"| {name} | {guessed.cost:.6e} | {from_reference.cost:.6e} | {relative:.1e} | "
                         f"{100.0 * spread:.2f} % |")
    f, z = measured_spectrum("li_ion_cell")
    li_ion = vorlane.Circuit("sei_randles_wo").fit(f, z, weights=weights_path("sei_randles_wo"))
    rms = float(np.sqrt(2.0 * li_ion.cost / f.size))
    lines.append("")
    lines.append(f"li_ion_cell.csv, default sei_randles_wo fit: relative residual (rms of |Z_fit - Z| / |Z|) "
                 f"{rms:.4f}, success {li_ion.success}")
    return "\n".join(lines)


def feature_summary(f: np.ndarray, z: np.ndarray) -> np.ndarray:
    """Span (decades), points, log-modulus range, phase extremes (degrees), window ends vs w_scale (decades)."""
    z_scale, w_scale = reactive_centroid(f, z)
    matrix, _ = spectrum_features(f, z, z_scale, w_scale)
    span = float(np.log10(f.max() / f.min()))
    return np.array([span, f.size, np.ptp(matrix[0]), 90.0 * matrix[1].min(), 90.0 * matrix[1].max(),
                     4.0 * matrix[2, 0], 4.0 * matrix[2, -1]])


def coverage_table(count: int) -> str:
    """Where each real spectrum's features fall within the training distribution (percentile ranks)."""
    labels = ["span", "points", "log|Z| range", "min phase", "max phase", "low end", "high end"]
    lines = ["| spectrum (topology) | " + " | ".join(labels) + " |", "|" + "---|" * (len(labels) + 1)]
    cache: dict[str, np.ndarray] = {}
    for name, model in REAL_TOPOLOGY.items():
        if model not in cache:
            generator = Generator(BY_NAME[model], parasitic=True)
            rng = np.random.default_rng(EVALUATION_SEED + 1)
            drawn = [generator.draw(rng) for _ in range(count)]
            cache[model] = np.array([feature_summary(s.frequencies, s.impedances) for s in drawn])
        training = cache[model]
        values = feature_summary(*measured_spectrum(name))
        ranks = [100.0 * np.mean(training[:, i] <= v) for i, v in enumerate(values)]
        cells = [f"{v:.2f} ({rank:.0f})" for v, rank in zip(values, ranks)]
        lines.append(f"| {name} ({model}) | " + " | ".join(cells) + " |")
    return "\n".join(lines)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("names", nargs="*", help="models to evaluate (default: all)")
    parser.add_argument("--count", type=int, default=500)
    parser.add_argument("--out", type=Path, default=REPO / "training" / "runs" / "evaluation.md")
    args = parser.parse_args()
    names = args.names or [t.name for t in TOPOLOGIES]
    warnings.simplefilter("error")
    results = []
    for name in names:
        results.append(evaluate_model(BY_NAME[name], args.count))
        print(quality_table(results[-1:]), flush=True)
    report = "\n\n".join([quality_table(results), real_data_table(), coverage_table(2000)])
    print(report)
    args.out.parent.mkdir(parents=True, exist_ok=True)
    args.out.write_text(report + "\n")


if __name__ == "__main__":
    main()
