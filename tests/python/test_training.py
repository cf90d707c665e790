"""The training pipeline and the bundled weight files it produced.

Training itself is far too slow for a test run; a network trained for a few
steps is enough to check that export, module and PyTorch agree.
"""

from __future__ import annotations

import fcntl
import importlib.util
import os
import sys
from pathlib import Path

import numpy as np
import pytest

import vorlane

sys.path.append(str(Path(__file__).resolve().parents[2]))

from training.eisnn_format import BINARY16, BINARY32, decode_eisnn  # noqa: E402
from training.export import layer_names  # noqa: E402
from training.features import from_outputs, spectrum_features, to_targets  # noqa: E402
from training.generate import spectra  # noqa: E402
from training.registry import BY_NAME, TOPOLOGIES  # noqa: E402

MODELS_DIR = Path(__file__).resolve().parents[2] / "models"
REQUIRED = ["target_mean", "target_std", "scaling", "log_params"]
EXPECTED_META_KEYS = ["circuit", "param_names", "estimator", "n_grid", "channels", "kernel", "groups",
                      "dilations", "alpha_min", "alpha_max"]
NAMES = [t.name for t in TOPOLOGIES]


def expected_record_names():
    return [f"w.{layer}.{part}" for layer in layer_names() for part in ("weight", "bias")] + REQUIRED


def check_layout(data: bytes, name: str) -> dict:
    topology = BY_NAME[name]
    assert len(data) == topology.file_bytes
    meta, records = decode_eisnn(data)
    assert [key for key, _ in meta] == EXPECTED_META_KEYS
    assert dict(meta) == {
        "circuit": topology.circuit, "param_names": ",".join(topology.param_names),
        "estimator": "reactive_centroid", "n_grid": "64", "channels": str(topology.channels), "kernel": "5",
        "groups": "8", "dilations": "1,2,4,8", "alpha_min": "0.05", "alpha_max": "1.0"}
    assert [record[0] for record in records] == expected_record_names()
    assert [record[1] for record in records] == [BINARY16] * 40 + [BINARY32] * 4
    tensors = {record[0]: record[3] for record in records}
    assert tensors["w.head.4.weight"].shape == (2 * topology.n_params, 4 * topology.channels)
    np.testing.assert_array_equal(tensors["log_params"], topology.log_params.astype(float))
    np.testing.assert_array_equal(tensors["scaling"], topology.scaling)
    assert np.all(np.isfinite(np.concatenate([np.ravel(v) for v in tensors.values()])))
    return tensors


@pytest.mark.parametrize("name", NAMES)
def test_bundled_file_layout(name):
    tensors = check_layout((MODELS_DIR / f"{name}.eisnn").read_bytes(), name)
    assert np.all(tensors["target_std"] > 0.0)


@pytest.mark.parametrize("name", NAMES)
def test_bundled_model_guesses_its_own_topology(name):
    topology = BY_NAME[name]
    for spectrum in spectra(topology, 3, seed=7):
        guess = np.array(vorlane.Circuit(topology.circuit).guess(spectrum.frequencies, spectrum.impedances))
        assert guess.shape == (topology.n_params,)
        assert np.all(np.isfinite(guess)) and np.all(guess > 0.0)
        alphas = guess[~topology.log_params]
        assert np.all((alphas >= 0.05) & (alphas <= 1.0))


@pytest.mark.parametrize("name", ["rq", "two_rc_l", "sei_randles_wo"])
def test_targets_round_trip(name):
    topology = BY_NAME[name]
    drawn = spectra(topology, 20, seed=3)
    params = np.array([s.params for s in drawn])
    z_scale = 10.0 ** np.linspace(-3.0, 6.0, len(drawn))
    w_scale = 10.0 ** np.linspace(5.0, -2.0, len(drawn))
    mean, std = np.linspace(-1.0, 1.0, topology.n_params), np.linspace(0.5, 2.0, topology.n_params)
    targets = to_targets(params, z_scale, w_scale, topology.scaling, topology.log_params, mean, std)
    back = from_outputs(targets, z_scale, w_scale, topology.scaling, topology.log_params, mean, std)
    np.testing.assert_allclose(back, params, rtol=1e-12)


@pytest.mark.parametrize("output, expected_alpha", [(-50.0, 0.05), (50.0, 1.0), (np.nan, np.nan)])
def test_exponent_clamp_reaches_its_coefficient(output, expected_alpha):
    topology = BY_NAME["rq"]
    outputs = np.array([0.0, 0.0, 0.0, output])
    values = from_outputs(outputs, 10.0, 100.0, topology.scaling, topology.log_params, np.zeros(4), np.ones(4))
    np.testing.assert_equal(values[3], expected_alpha)
    np.testing.assert_allclose(values[2], 100.0 ** -expected_alpha / 10.0)


def test_features_ignore_point_order():
    spectrum = spectra(BY_NAME["randles"], 1, seed=11)[0]
    order = np.argsort(spectrum.frequencies)
    base, meta = spectrum_features(spectrum.frequencies[order], spectrum.impedances[order], 2.0, 30.0)
    for perm in (order[::-1], np.random.default_rng(0).permutation(order.size)):
        again, meta_again = spectrum_features(spectrum.frequencies[perm], spectrum.impedances[perm], 2.0, 30.0)
        np.testing.assert_array_equal(again, base)
        assert meta_again == meta


@pytest.mark.parametrize("phases, last", [((3.0, -3.0), 2 * np.pi - 3.0), ((-3.0, 3.0), 3.0 - 2 * np.pi)])
def test_phase_unwraps_across_the_branch_cut(phases, last):
    z = np.exp(1j * np.array(phases))
    matrix, _ = spectrum_features(np.array([1.0, 10.0]), z, 1.0, 1.0, n_grid=2)
    assert matrix[1, -1] * np.pi / 2 == pytest.approx(last, rel=1e-12)


needs_torch = pytest.mark.skipif(importlib.util.find_spec("torch") is None, reason="PyTorch is not installed")


TINY_NETWORKS = ("rc", "rq", "randles")


def train_tiny_networks(folder):
    """Briefly trained networks for a few topologies, exported into `folder`.
    Plain gradient steps: PyTorch's optimisers load its compiler on their
    first step, which took longer than the training."""
    import torch

    from training.export import weight_file_bytes
    from training.generate import training_arrays
    from training.model import GuessNet, guess_loss

    torch.manual_seed(0)
    for name in TINY_NETWORKS:
        topology = BY_NAME[name]
        data = training_arrays(topology, 64, seed=5)
        raw = to_targets(data["params"], data["z_scale"], data["w_scale"], topology.scaling, topology.log_params,
                         0.0, 1.0)
        mean, std = raw.mean(axis=0), raw.std(axis=0)
        model = GuessNet(topology.channels, topology.n_params)
        for _ in range(3):
            loss = guess_loss(model(torch.from_numpy(data["features"]), torch.from_numpy(data["meta"])),
                              torch.from_numpy(((raw - mean) / std).astype(np.float32)))
            model.zero_grad()
            loss.backward()
            with torch.no_grad():
                for parameter in model.parameters():
                    parameter -= 1e-3 * parameter.grad
        state = {key: value.detach().double().numpy() for key, value in model.state_dict().items()}
        (folder / f"{name}.eisnn").write_bytes(weight_file_bytes(topology, state, mean, std))


@pytest.fixture(scope="session")
def tiny_networks(tmp_path_factory):
    """The tiny networks' files, trained once per test run: parallel workers
    share a folder, and the first to take its lock trains them."""
    base = tmp_path_factory.getbasetemp()
    folder = (base.parent if os.environ.get("PYTEST_XDIST_WORKER") else base) / "tiny_networks"
    folder.mkdir(exist_ok=True)
    paths = {name: folder / f"{name}.eisnn" for name in TINY_NETWORKS}
    with open(folder / "lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not (folder / "done").exists():
            train_tiny_networks(folder)
            (folder / "done").touch()
    return paths


@needs_torch
@pytest.mark.long_running
@pytest.mark.parametrize("name", TINY_NETWORKS)
def test_exported_network_layout(tiny_networks, name):
    check_layout(tiny_networks[name].read_bytes(), name)


@needs_torch
@pytest.mark.long_running
@pytest.mark.parametrize("name", TINY_NETWORKS)
def test_module_guess_equals_pytorch_prediction(tiny_networks, name):
    from training.reference import reference_guess

    topology = BY_NAME[name]
    for spectrum in spectra(topology, 4, seed=13, parasitic=True):
        f, z = spectrum.frequencies, spectrum.impedances
        guess = vorlane.Circuit(topology.circuit).guess(f, z, weights=str(tiny_networks[name]))
        np.testing.assert_allclose(guess, reference_guess(tiny_networks[name], f, z), rtol=1e-6)


@needs_torch
@pytest.mark.parametrize("name", NAMES)
def test_bundled_guess_equals_pytorch_prediction(name):
    from training.reference import reference_guess

    topology = BY_NAME[name]
    spectrum = spectra(topology, 1, seed=17)[0]
    f, z = spectrum.frequencies, spectrum.impedances
    guess = vorlane.Circuit(topology.circuit).guess(f, z)
    np.testing.assert_allclose(guess, reference_guess(MODELS_DIR / f"{name}.eisnn", f, z), rtol=1e-6)
