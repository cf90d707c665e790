"""Training the eleven guess networks.

    nohup python -m training.train --all > training/runs/train.log 2>&1 &

Each model trains from a fixed seed on spectra generated once and kept in
training/runs/<name>/data.npz; a checkpoint is written every few hundred
steps, so a killed run continues where it stopped when the same command is
given again. A finished model is exported to models/<name>.eisnn and skipped
by later runs (use --force to retrain). Needs the built module on PYTHONPATH.
"""

from __future__ import annotations

import argparse
import math
import sys
import time
from pathlib import Path

import numpy as np
import torch

from training.export import REPO, checkpoint_bytes
from training.features import from_outputs, to_targets
from training.generate import training_arrays
from training.model import GuessNet, guess_loss
from training.registry import BY_NAME, TOPOLOGIES, Topology

RUNS = REPO / "training" / "runs"
BATCH = 256
PEAK_LR = 2e-3
WARMUP = 200
CHECKPOINT_EVERY = 250
VALIDATION_COUNT = 2000

# (optimiser steps, training spectra) by trunk width: sized so that the eleven
# models train in about 1.5 hours of one thread on two shared cores.
PLAN = {16: (1200, 60_000), 32: (1300, 100_000), 64: (3000, 150_000)}
# Topologies with two constant-phase arcs or a diffusion tail need longer.
LONGER = {"two_rq": (3000, 150_000), "two_rq_l": (3000, 150_000), "randles": (3000, 150_000),
          "sei_randles_wo": (6000, 200_000)}


def seed_of(topology: Topology) -> int:
    return 1000 + [t.name for t in TOPOLOGIES].index(topology.name)


def log(path: Path, text: str) -> None:
    line = f"{time.strftime('%H:%M:%S')} {text}"
    print(line, flush=True)
    with path.open("a") as handle:
        handle.write(line + "\n")


def load_or_generate(path: Path, topology: Topology, count: int, seed: int) -> dict[str, np.ndarray]:
    if path.exists():
        with np.load(path) as data:
            if data["params"].shape[0] == count:
                return dict(data)
    data = training_arrays(topology, count, seed)
    np.savez(path, **data)
    return data


def float32_rounded(values: np.ndarray) -> np.ndarray:
    """Statistics as the weight file stores them, so training matches run time."""
    return np.asarray(values, dtype=np.float32).astype(np.float64)


def learning_rate(step: int, total: int) -> float:
    if step < WARMUP:
        return PEAK_LR * (step + 1) / WARMUP
    progress = (step - WARMUP) / max(total - WARMUP, 1)
    return PEAK_LR * (0.02 + 0.98 * 0.5 * (1.0 + math.cos(math.pi * progress)))


def decade_errors(topology: Topology, model: GuessNet, data: dict[str, np.ndarray], mean: np.ndarray,
                  std: np.ndarray) -> np.ndarray:
    """Median error per parameter: decades for logarithmic ones, absolute for exponents."""
    model.eval()
    with torch.no_grad():
        outputs = model(torch.from_numpy(data["features"]), torch.from_numpy(data["meta"])).double().numpy()
    model.train()
    guess = from_outputs(outputs[:, :topology.n_params], data["z_scale"], data["w_scale"],
                         topology.scaling, topology.log_params, mean, std)
    truth = data["params"]
    error = np.where(topology.log_params, np.abs(np.log10(guess / truth)), np.abs(guess - truth))
    return np.median(error, axis=0)


def train_one(topology: Topology, force: bool) -> None:
    run = RUNS / topology.name
    run.mkdir(parents=True, exist_ok=True)
    final, checkpoint_path, log_path = run / "final.pt", run / "checkpoint.pt", run / "log.txt"
    if final.exists() and not force:
        log(log_path, f"{topology.name}: already trained")
        return
    steps, count = LONGER.get(topology.name, PLAN[topology.channels])
    seed = seed_of(topology)
    started = time.time()
    data = load_or_generate(run / "data.npz", topology, count, seed)
    validation = load_or_generate(run / "validation.npz", topology, VALIDATION_COUNT, seed + 500)
    log(log_path, f"{topology.name}: {count} spectra ready after {time.time() - started:.0f} s")

    raw = to_targets(data["params"], data["z_scale"], data["w_scale"],
                     topology.scaling, topology.log_params, 0.0, 1.0)
    mean, std = float32_rounded(raw.mean(axis=0)), float32_rounded(raw.std(axis=0))
    targets = torch.from_numpy(((raw - mean) / std).astype(np.float32))
    features, meta = torch.from_numpy(data["features"]), torch.from_numpy(data["meta"])

    torch.manual_seed(seed)
    model = GuessNet(topology.channels, topology.n_params)
    optimiser = torch.optim.AdamW(model.parameters(), lr=PEAK_LR, weight_decay=1e-4)
    sampler = torch.Generator().manual_seed(seed)
    step = 0
    if checkpoint_path.exists() and not force:
        state = torch.load(checkpoint_path, map_location="cpu", weights_only=False)
        model.load_state_dict(state["model"])
        optimiser.load_state_dict(state["optimiser"])
        sampler.set_state(state["sampler"])
        step = state["step"]
        log(log_path, f"{topology.name}: resuming at step {step}")

    def save(path: Path) -> None:
        torch.save({"model": model.state_dict(), "optimiser": optimiser.state_dict(), "sampler": sampler.get_state(),
                    "step": step, "target_mean": mean, "target_std": std}, path)

    running = 0.0
    while step < steps:
        for group in optimiser.param_groups:
            group["lr"] = learning_rate(step, steps)
        batch = torch.randint(0, targets.shape[0], (BATCH,), generator=sampler)
        loss = guess_loss(model(features[batch], meta[batch]), targets[batch])
        optimiser.zero_grad(set_to_none=True)
        loss.backward()
        torch.nn.utils.clip_grad_norm_(model.parameters(), 1.0)
        optimiser.step()
        step += 1
        value = float(loss.detach())
        running = 0.98 * running + 0.02 * value if step > 1 else value
        if step % CHECKPOINT_EVERY == 0 or step == steps:
            save(checkpoint_path)
            errors = decade_errors(topology, model, validation, mean, std)
            listed = " ".join(f"{n}={e:.3f}" for n, e in zip(topology.param_names, errors))
            log(log_path, f"{topology.name}: step {step}/{steps} loss {running:.4f} median error {listed}")
    save(final)
    out = REPO / "models" / f"{topology.name}.eisnn"
    data_bytes = checkpoint_bytes(topology, torch.load(final, map_location="cpu", weights_only=False))
    if len(data_bytes) != topology.file_bytes:
        raise RuntimeError(f"{topology.name}: {len(data_bytes)} bytes, expected {topology.file_bytes}")
    out.write_bytes(data_bytes)
    log(log_path, f"{topology.name}: wrote {out.name} after {time.time() - started:.0f} s")


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("names", nargs="*", help="models to train: " + ", ".join(BY_NAME))
    parser.add_argument("--all", action="store_true", help="train every model, in registry order")
    parser.add_argument("--force", action="store_true", help="retrain finished models from scratch")
    # One thread: on a machine shared with other work, two spinning OpenMP
    # threads run many times slower than one.
    parser.add_argument("--threads", type=int, default=1)
    args = parser.parse_args(argv)
    if not args.all and not args.names:
        parser.error("name models to train, or give --all")
    unknown = [name for name in args.names if name not in BY_NAME]
    if unknown:
        parser.error(f"unknown models: {', '.join(unknown)}")
    torch.set_num_threads(args.threads)
    for topology in TOPOLOGIES if args.all else [BY_NAME[n] for n in args.names]:
        train_one(topology, args.force)


if __name__ == "__main__":
    main(sys.argv[1:])
