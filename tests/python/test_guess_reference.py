"""Circuit.guess against the numpy reference network on random weight files."""

from pathlib import Path

import numpy as np
import pytest

import vorlane
from nn_reference import ReferenceNetwork
from training.eisnn_format import BINARY16, BINARY32, SCALED_INT8, encode_eisnn
from training.export import layer_names, metadata
from training.registry import BY_NAME

pytestmark = pytest.mark.skipif(not hasattr(vorlane.Circuit, "guess"), reason="Circuit.guess not built yet")

MODELS_DIR = Path(__file__).resolve().parents[2] / "models"
RTOL = 1e-9
# The bundled networks on real spectra: the reference runs the definition
# (tap by tap, GELU through tanh); the module's vectorised forward pass may
# differ from it only by rounding.
BUNDLED_RTOL = 1e-12


def random_network(name, channels, n_grid, encoding, seed, dilations="1,2,4,8", target_mean=None):
    """A weight file for registry topology `name` with random weights (and
    the given output means, random ones by default)."""
    rng = np.random.default_rng(seed)
    topology = BY_NAME[name]
    p = topology.n_params
    hidden = 2 * channels
    replaced = {"channels": str(channels), "n_grid": str(n_grid), "dilations": dilations}
    meta = [(key, replaced.get(key, value)) for key, value in metadata(topology)]
    blocks = len(dilations.split(","))
    shapes = {"stem": (channels, 3, 5), "head.0": (hidden, 2 * channels + 2), "head.2": (hidden, hidden),
              "head.4": (2 * p, hidden)}
    records = []
    for layer in layer_names():
        if layer.startswith("blocks.") and int(layer.split(".")[1]) >= blocks:
            continue
        shape = shapes.get(layer, (channels, channels, 5) if "conv" in layer else (channels,))
        weight = rng.normal(0.0, 0.4, shape)
        if "conv" in layer:
            weight[rng.random(shape) < 0.2] = 0.0  # skipped taps
        if "norm" in layer:
            weight = 1.0 + 0.2 * rng.normal(size=shape)
        records.append((f"w.{layer}.weight", encoding, shape, weight))
        records.append((f"w.{layer}.bias", encoding, shape[:1], rng.normal(0.0, 0.2, shape[:1])))
    records += [
        ("target_mean", BINARY32, (p,), rng.normal(0.0, 1.0, p) if target_mean is None else target_mean),
        ("target_std", BINARY32, (p,), rng.uniform(0.3, 1.5, p)),
        ("scaling", BINARY32, (p, 4), topology.scaling),
        ("log_params", BINARY32, (p,), topology.log_params.astype(np.float64)),
    ]
    return encode_eisnn(meta, records)


def rc_spectrum(n=60, r0=10.0, r1=100.0, c1=1e-5):
    f = np.logspace(-2, 5, n)
    return f, vorlane.Circuit("R0-(R1,C1)").with_values([r0, r1, c1]).impedance(f)


def assert_close(actual, expected):
    np.testing.assert_allclose(np.asarray(actual), np.asarray(expected), rtol=RTOL, atol=0.0)


@pytest.fixture
def weights(tmp_path):
    def write(data):
        path = tmp_path / f"net{len(list(tmp_path.iterdir()))}.eisnn"
        path.write_bytes(data)
        return str(path)
    return write


@pytest.mark.parametrize("encoding", [BINARY32, BINARY16, SCALED_INT8])
@pytest.mark.parametrize("channels,n_grid,seed", [(8, 64, 1), (16, 32, 2), (8, 7, 3), (16, 1, 4)])
def test_rc_matches_reference(weights, encoding, channels, n_grid, seed):
    data = random_network("rc", channels, n_grid, encoding, seed)
    f, z = rc_spectrum()
    expected = ReferenceNetwork(data).guess(f, z)
    assert_close(vorlane.Circuit("R0-(R1,C1)").guess(f, z, weights=weights(data)), expected)


@pytest.mark.parametrize("name", sorted(BY_NAME))
def test_every_topology_on_measured_spectra(weights, name, measured_spectrum):
    data = random_network(name, 8, 64, BINARY16, sorted(BY_NAME).index(name))
    f, z = measured_spectrum.frequencies, measured_spectrum.impedances
    expected = ReferenceNetwork(data).guess(f, z)
    actual = vorlane.Circuit(BY_NAME[name].circuit).guess(f, z, weights=weights(data))
    assert_close(actual, expected)


def test_order_and_labels_follow_the_user(weights):
    data = random_network("rc", 8, 64, BINARY32, 11)
    path = weights(data)
    f, z = rc_spectrum()
    r0, r1, c1 = ReferenceNetwork(data).guess(f, z)
    assert_close(vorlane.Circuit("(R1,C2)-R3").guess(f, z, weights=path), [r1, c1, r0])
    assert_close(vorlane.Circuit("R9-(C4,R7)").guess(f, z, weights=path), [r0, c1, r1])
    # Reversing the spectrum changes only the estimator's summation order.
    assert_close(vorlane.Circuit("R0-(R1,C1)").guess(f[::-1], z[::-1], weights=path), [r0, r1, c1])


def test_abbreviations_get_their_own_parameters(weights):
    f, z = rc_spectrum()
    rc = random_network("rc", 8, 64, BINARY32, 12)
    r0, r1, c1 = ReferenceNetwork(rc).guess(f, z)
    assert_close(vorlane.Circuit("R0-K1").guess(f, z, weights=weights(rc)), [r0, r1, r1 * c1])
    rq = random_network("rq", 8, 64, BINARY32, 13)
    r0, r1, q, alpha = ReferenceNetwork(rq).guess(f, z)
    guessed = vorlane.Circuit("R0-Zarc1").guess(f, z, weights=weights(rq))
    assert_close(guessed, [r0, r1, (r1 * q) ** (1.0 / alpha), alpha])
    assert 0.05 <= guessed[3] <= 1.0


@pytest.mark.parametrize("name", sorted(BY_NAME))
def test_bundled_model_matches_its_file(name, measured_spectrum):
    path = MODELS_DIR / f"{name}.eisnn"
    if not path.exists():
        pytest.skip(f"models/{name}.eisnn not delivered yet")
    f, z = measured_spectrum.frequencies, measured_spectrum.impedances
    expected = ReferenceNetwork(path.read_bytes()).guess(f, z)
    np.testing.assert_allclose(vorlane.Circuit(name).guess(f, z), expected, rtol=BUNDLED_RTOL, atol=0.0)


def test_threads_guess_side_by_side(measured_spectrum):
    from concurrent.futures import ThreadPoolExecutor

    f, z = measured_spectrum.frequencies, measured_spectrum.impedances
    names = sorted(BY_NAME) * 3
    alone = [vorlane.Circuit(name).guess(f, z) for name in names]
    with ThreadPoolExecutor(max_workers=4) as pool:
        together = list(pool.map(lambda name: vorlane.Circuit(name).guess(f, z), names))
    assert together == alone

