"""A reported fit can be trusted: it never ends above its own start, never
reports success with a non-finite cost, and starts the solver can not move
from are moved where it can, with a warning."""

import math
import warnings

import numpy as np
import pytest

import vorlane
from conftest import SPECTRUM_FILES, read_spectrum

FREQS = np.logspace(-2, 5, 40)
RC_TRUTH = [10.0, 100.0, 1e-5]
Z_RC = vorlane.Circuit("R0-(R1,C1)").with_values(RC_TRUTH).impedance(FREQS)


def cost_at(circuit, values, f, z):
    """The fit's own cost, summed in the fit's order."""
    total = 0.0
    for r in circuit.residuals(values, f, z):
        total += r * r
    return 0.5 * total


def assert_trusted(result, start_cost):
    if math.isfinite(start_cost):
        assert result.cost <= start_cost
    if result.success:
        assert math.isfinite(result.cost)
        assert all(math.isfinite(v) for v in result.params.values())


def test_a_good_start_never_ends_uphill(dummy_cell_a):
    f, z = dummy_cell_a.frequencies, dummy_cell_a.impedances
    circuit = vorlane.Circuit("L0-R0-(R1,CPE1)-(R2,CPE2)")
    start = [4.27302e-06, 28.6094, 23.1432, 5.2509e-05, 0.886806, 24.6242, 2.66677e-05, 0.963358]
    start_cost = cost_at(circuit, start, f, z)
    for options in ({}, {"guess_init": False}, {"method": "basin_hopping", "seed": 2, "basin_hopping_hops": 3}):
        result = circuit.with_values(start).fit(f, z, **options)
        assert_trusted(result, start_cost)
        assert result.cost < 1e-3 * start_cost  # the runs' way out of the exponent ranges is not the end
        assert all(0.0 <= result.params[name] <= 1.0 for name in ("CPE1.alpha", "CPE2.alpha"))


@pytest.mark.parametrize("bad, moved_to", [(0.0, 1.0), (-5.0, 1.0), (math.nan, 1.0), (math.inf, 1.0), (1e-12, 1.0)])
def test_a_start_the_solver_cannot_move_is_moved_with_a_warning(bad, moved_to):
    circuit = vorlane.Circuit("R0-(R1,C1)").with_values([bad, 100, 1e-5])
    with pytest.warns(UserWarning, match=r'moved inside .*: \["R0\.r"\]$'):
        result = circuit.fit(FREQS, Z_RC)
    assert result.success
    assert result.params["R0.r"] == pytest.approx(10.0, rel=1e-9)
    assert result.chi_square < 1e-20


def test_an_exponent_beyond_its_range_starts_at_its_end():
    truth = [10.0, 100.0, 2e-5, 0.8]
    z = vorlane.Circuit("R0-(R1,CPE1)").with_values(truth).impedance(FREQS)
    with pytest.warns(UserWarning, match=r'\["CPE1\.alpha"\]'):
        result = vorlane.Circuit("R0-(R1,CPE1)").with_values([10, 100, 2e-5, 1.7]).fit(FREQS, z)
    assert result.params["CPE1.alpha"] == pytest.approx(0.8, rel=1e-9)


def test_starts_inside_the_bounds_do_not_warn():
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        vorlane.Circuit("R0-(R1,CPE1)").with_values([10, 100, 2e-5, 1.0]).fit(FREQS, Z_RC)


def test_the_guess_reads_only_usable_points(dummy_cell_a):
    f, z = list(dummy_cell_a.frequencies), list(dummy_cell_a.impedances)
    circuit = vorlane.Circuit("R0-(R1,CPE1)")
    clean = circuit.guess(f[:5] + f[6:], z[:5] + z[6:])
    spoiled_f = f[:5] + [-f[5]] + f[6:] + [0.0, math.nan, math.inf, 10.0]
    spoiled_z = z[:5] + [z[5]] + z[6:] + [1 - 1j, 1 - 1j, 1 - 1j, complex(math.nan, 0)]
    with pytest.warns(UserWarning, match="the guess leaves them out"):
        assert circuit.guess(spoiled_f, spoiled_z) == clean
    # The fit itself keeps every point: a NaN impedance makes its cost NaN,
    # which is never a success; a negative frequency is just a poor point.
    with pytest.warns(UserWarning, match="non-finite frequency or impedance"):
        assert not circuit.fit(spoiled_f, spoiled_z).success
    result = circuit.fit(spoiled_f[:len(f)], spoiled_z[:len(f)])
    assert result.success and result.params["R1.r"] == pytest.approx(46.7, rel=0.05)
    with pytest.raises(ValueError, match=r"^need at least 2 frequency points to guess, got 1 with a finite, "
                                         r"positive frequency and a finite impedance \(of 3 points\)$"):
        circuit.guess([1.0, -1.0, 0.0], [1 - 1j] * 3)


def test_non_finite_network_outputs_start_at_placeholders(tmp_path):
    from test_guess_reference import random_network
    from training.eisnn_format import BINARY32

    path = tmp_path / "overflowing.eisnn"
    # R1's log-scaled output mean is far beyond the largest double.
    path.write_bytes(random_network("rc", 8, 32, BINARY32, seed=3, target_mean=np.array([0.0, 1e5, 0.0])))
    circuit = vorlane.Circuit("R0-(R1,C1)")
    with pytest.warns(UserWarning, match=r'placeholder values: \["R1\.r"\]$'):
        guess = circuit.guess(FREQS, Z_RC, weights=str(path))
    assert guess[1] == 1.0 and math.isfinite(guess[0]) and math.isfinite(guess[2])
    with pytest.warns(UserWarning, match=r'placeholder values: \["R1\.r"\]$'):
        result = circuit.fit(FREQS, Z_RC, weights=str(path))
    assert math.isfinite(result.cost)


def test_a_guess_below_a_lower_bound_moves_just_inside_silently(tmp_path):
    from test_guess_reference import random_network
    from training.eisnn_format import BINARY32

    path = tmp_path / "tiny.eisnn"
    # C1's log-scaled output mean is 1e-40 F, far below its lower bound.
    path.write_bytes(random_network("rc", 8, 32, BINARY32, seed=3, target_mean=np.array([1.0, 2.0, -40.0])))
    circuit = vorlane.Circuit("R0-(R1,C1)")
    guess = circuit.guess(FREQS, Z_RC, weights=str(path))
    assert guess[2] < 1e-12
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        result = circuit.fit(FREQS, Z_RC, weights=str(path))
    start = [guess[0], guess[1], 2e-12]  # twice the lower bound
    assert result.cost <= cost_at(circuit, start, FREQS, Z_RC)
    assert result.params["C1.c"] >= 1e-12


@pytest.mark.parametrize("c_start", [1e290, 1e300, 1e305])
def test_nelder_mead_walks_past_points_where_the_model_is_nan(c_start):
    # A capacitance beyond the largest double has a NaN impedance, so the
    # simplex meets NaN costs on its way; the fit still ends in a result.
    circuit = vorlane.Circuit("R0-(R1,C1)").with_values([10.0, 100.0, c_start])
    start_cost = cost_at(circuit, [10.0, 100.0, c_start], FREQS, Z_RC)
    result = circuit.fit(FREQS, Z_RC, method="nelder_mead", nelder_mead_iterations=400)
    assert_trusted(result, start_cost)


def test_a_run_that_leaves_a_range_is_brought_back_before_it_is_judged():
    # On the Li-ion cell the first run drives CPE1.alpha beyond 1; held at 1
    # it is the best fit the multi-start finds, and it ends the loop.
    # The plain default fit from the network's start: a zero-configuration
    # fit searches on from there and ends lower still.
    spectrum = read_spectrum("li_ion_cell.csv")
    circuit = vorlane.Circuit("sei_randles_wo")
    start = circuit.guess(spectrum.frequencies, spectrum.impedances)
    result = circuit.with_values(start).fit(spectrum.frequencies, spectrum.impedances)
    zero_config = circuit.fit(spectrum.frequencies, spectrum.impedances)
    assert zero_config.cost <= result.cost
    assert result.success and result.cost < 0.4566 and result.params["CPE1.alpha"] == 1.0
    assert result.iterations < 500


def test_no_success_with_a_non_finite_cost():
    z = Z_RC.copy()
    z[4] = complex(math.nan, 0.0)
    for method in ("levenberg_marquardt", "basin_hopping"):
        with pytest.warns(UserWarning, match="index 4"):
            result = vorlane.Circuit("R0-(R1,C1)").with_values(RC_TRUTH).fit(FREQS, z, method=method, seed=1,
                                                                               basin_hopping_hops=2)
        assert math.isnan(result.cost) and not result.success


# The sweep: restarts from points scattered around good fits of the real
# spectra, for the bundled topologies and their variants with an inductance.
SWEEP_CIRCUITS = ["R0-(R1,C1)", "L0-R0-(R1,CPE1)", "R0-(R1,CPE1)-(R2,CPE2)", "L0-R0-(R1,CPE1)-(R2,CPE2)",
                  "R0-(R1-W1,CPE1)", "R0-(R1,CPE1)-(R2-Wo2,CPE2)"]


@pytest.mark.parametrize("name", SPECTRUM_FILES)
def test_sweep_no_fit_ends_above_its_start(name):
    spectrum = read_spectrum(name)
    f, z = spectrum.frequencies, spectrum.impedances
    rng = np.random.default_rng(sum(map(ord, name)))
    for text in SWEEP_CIRCUITS:
        circuit = vorlane.Circuit(text)
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            optimum = list(circuit.fit(f, z).params.values())
        bounds = circuit.param_bounds()
        for _ in range(2):
            start = []
            for value, (lo, hi) in zip(optimum, bounds):
                if math.isinf(hi):
                    start.append(max(value, 1e-9) * 10.0 ** rng.uniform(-1.0, 1.0))
                else:
                    start.append(float(np.clip(value + rng.uniform(-0.3, 0.3), lo, hi)))
            start_cost = cost_at(circuit, start, f, z)
            moved = circuit.with_values(start)
            assert_trusted(moved.fit(f, z), start_cost)
            assert_trusted(moved.fit(f, z, method="basin_hopping", seed=7, basin_hopping_hops=2), start_cost)
