"""Circuit.fit with the five global methods, through the Python interface."""

import math

import pytest

import vorlane
from conftest import read_spectrum

CIRCUIT = "R0-(R1,CPE1)-(R2-Wo2,CPE2)"

# Small budgets: each run takes a fraction of a second.
BUDGETS = {
    "nelder_mead": {"nelder_mead_iterations": 300},
    "particle_swarm": {"num_particles": 20, "generations": 30, "seed": 5},
    "differential_evolution": {"de_evaluations": 300},
    "simulated_annealing": {"sa_iterations": 300, "seed": 5},
    "basin_hopping": {"basin_hopping_hops": 2, "seed": 5},
}


@pytest.fixture(scope="module")
def measured():
    spectrum = read_spectrum("li_ion_cell.csv")
    return list(spectrum.frequencies), list(spectrum.impedances)


@pytest.fixture(scope="module")
def start():
    return vorlane.Circuit(CIRCUIT).with_values([0.05, 0.01, 1.0, 0.8, 0.01, 0.02, 10.0, 10.0, 0.8])


def cost_at(circuit, f, z):
    r = circuit.residuals(circuit.param_values(), f, z)
    return 0.5 * math.fsum(v * v for v in r)


@pytest.mark.parametrize("method", sorted(BUDGETS))
def test_fit_on_a_measured_spectrum_improves_on_the_start(method, measured, start):
    f, z = measured
    result = start.fit(f, z, method=method, **BUDGETS[method])
    assert math.isfinite(result.cost) and result.cost < cost_at(start, f, z)
    assert result.chi_square == 2 * result.cost
    assert result.cost == pytest.approx(cost_at(result.circuit, f, z), rel=1e-12)
    for name, (lo, hi) in zip(result.circuit.param_names(), result.circuit.param_bounds()):
        assert lo <= result.params[name] <= hi


def test_nelder_mead_ignores_the_seed(measured, start):
    f, z = measured
    a = start.fit(f, z, method="nelder_mead", nelder_mead_iterations=100, seed=1)
    b = start.fit(f, z, method="nelder_mead", nelder_mead_iterations=100, seed=2)
    assert a.params == b.params


@pytest.mark.parametrize("kwargs, message", [
    ({"method": "simulated_annealing", "sa_initial_temperature": 0.0},
     'solver error: Invalid parameter: "`SimulatedAnnealing`: Initial temperature must be > 0."'),
    ({"method": "simulated_annealing", "sa_initial_temperature": float("nan")},
     'solver error: Invalid parameter: "`SimulatedAnnealing`: Initial temperature must be finite."'),
    ({"method": "particle_swarm", "num_particles": 0}, "solver error: num_particles must be at least 1"),
    ({"method": "basin_hopping", "basin_hopping_step_size": -0.5},
     "solver error: basin_hopping_step_size must be a finite number >= 0, not -0.5"),
])
def test_refused_settings_raise_before_any_work(kwargs, message, measured, start):
    f, z = measured
    with pytest.raises(ValueError) as info:
        start.fit(f, z, **kwargs)
    assert str(info.value) == message


@pytest.mark.parametrize("method", ["particle_swarm", "differential_evolution"])
def test_an_infinite_start_is_searched_from_its_placeholder(method, measured):
    f, z = measured
    circuit = vorlane.Circuit("R0-(R1,C1)").with_values([float("inf"), 1.0, 1e-3])
    with pytest.warns(UserWarning, match=r'\["R0\.r"\]'):
        result = circuit.fit(f, z, method=method, num_particles=3, generations=1, de_evaluations=1, seed=1)
    assert math.isfinite(result.cost) and math.isfinite(result.params["R0.r"])
