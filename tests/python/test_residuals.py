"""Circuit.residuals and Circuit.jacobian as building blocks for external
optimisers."""

import math
import threading

import numpy as np
import pytest

import vorlane
from conftest import DATA_DIR

EPS_CBRT = float(np.cbrt(np.finfo(float).eps))

RC = vorlane.Circuit("R0-(R1,C1)")
RC_TRUE = [29.0, 47.0, 1.0e-5]
FREQS = np.logspace(-1, 5, 25)


def measured(circuit=RC, params=RC_TRUE, noise=0.05, seed=3):
    rng = np.random.default_rng(seed)
    z = circuit.with_values(params).impedance(FREQS)
    return z * (1 + noise * rng.standard_normal(len(z)))


def own_central_differences(circuit, params, f, z, weight):
    """Column j from the residuals at p_j +- h, h = eps^(1/3) * max(|p_j|, 1e-8)."""
    cols = []
    for j, p in enumerate(params):
        h = EPS_CBRT * max(abs(p), 1e-8)
        up, down = list(params), list(params)
        up[j] = p + h
        down[j] = p - h
        r_up = np.array(circuit.residuals(up, f, z, weight=weight))
        r_down = np.array(circuit.residuals(down, f, z, weight=weight))
        cols.append((r_up - r_down) / (h * 2))
    return np.array(cols).T


@pytest.mark.parametrize("weight", ["unit", "modulus"])
def test_residuals_are_model_minus_measurement(weight):
    z = measured()
    model = RC.with_values(RC_TRUE).impedance(FREQS)
    w = np.ones(len(z)) if weight == "unit" else np.maximum(np.hypot(z.real, z.imag), 1e-30)
    r = RC.residuals(RC_TRUE, FREQS, z, weight=weight)
    assert r[0::2] == list((model.real - z.real) / w)
    assert r[1::2] == list((model.imag - z.imag) / w)


def test_modulus_is_the_default_weighting():
    z = measured()
    assert RC.residuals(RC_TRUE, FREQS, z) == RC.residuals(RC_TRUE, FREQS, z, weight="modulus")


def test_modulus_floor_for_zero_and_nan_measurements():
    f = [1.0, 2.0, 3.0]
    z = [0j, complex(math.nan, 0.0), complex(0.0, 1e-40)]
    r = vorlane.Circuit("R0").residuals([2.0], f, z)
    assert r[0] == 2.0 / 1e-30 and r[1] == 0.0
    assert math.isnan(r[2]) and r[3] == 0.0
    assert r[4] == 2.0 / 1e-30 and r[5] == -1e-40 / 1e-30


def test_jacobian_matches_central_differences_bit_for_bit():
    z = measured()
    for weight in ("unit", "modulus"):
        jac = np.array(RC.jacobian(RC_TRUE, FREQS, z, weight=weight))
        assert jac.shape == (2 * len(FREQS), 3)
        np.testing.assert_array_equal(jac, own_central_differences(RC, RC_TRUE, FREQS, z, weight))


def test_jacobian_of_a_linear_parameter_is_its_analytic_derivative():
    z = measured()
    w = np.hypot(z.real, z.imag)
    jac = np.array(RC.jacobian(RC_TRUE, FREQS, z))
    np.testing.assert_allclose(jac[0::2, 0], 1.0 / w, rtol=1e-9)
    np.testing.assert_allclose(jac[1::2, 0], 0.0, atol=1e-12)


def test_zero_parameter_uses_the_step_floor():
    # d/dR0 at R0 = 0 still sees the exact slope 1 of a series resistor
    jac = vorlane.Circuit("R0").jacobian([0.0], [1.0, 10.0], [0.0, 0.0], weight="unit")
    assert jac == [[1.0], [0.0], [1.0], [0.0]]


def test_repeated_calls_are_bit_identical():
    z = measured()
    first = (RC.residuals(RC_TRUE, FREQS, z), RC.jacobian(RC_TRUE, FREQS, z))
    for _ in range(3):
        assert (RC.residuals(RC_TRUE, FREQS, z), RC.jacobian(RC_TRUE, FREQS, z)) == first


def test_calls_from_several_threads_agree_with_serial_ones():
    z = measured()
    serial = RC.jacobian(RC_TRUE, FREQS, z)
    results = [None] * 8

    def work(i):
        results[i] = RC.jacobian(RC_TRUE, FREQS, z)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(results))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all(r == serial for r in results)


@pytest.mark.parametrize("method", ["residuals", "jacobian"])
@pytest.mark.parametrize("params, f", [([1.0, 2.0], FREQS), ([], FREQS), ([1.0, 2.0], [])])
def test_short_parameter_vector_is_refused(method, params, f):
    z = np.ones(len(f), dtype=complex)
    with pytest.raises(ValueError, match="^impedance_from_iter: not enough values supplied$"):
        getattr(RC, method)(params, f, z)
    assert RC.residuals(RC_TRUE, [1.0], [1.0]) is not None


def test_extra_parameters_are_ignored_and_get_zero_columns():
    z = measured()
    assert RC.residuals(RC_TRUE + [123.0], FREQS, z) == RC.residuals(RC_TRUE, FREQS, z)
    jac = np.array(RC.jacobian(RC_TRUE + [123.0], FREQS, z))
    assert jac.shape == (2 * len(FREQS), 4)
    assert not jac[:, 3].any()
    np.testing.assert_array_equal(jac[:, :3], RC.jacobian(RC_TRUE, FREQS, z))


def test_circuit_without_parameters_has_an_empty_jacobian():
    empty = vorlane.Series([])
    assert empty.jacobian([], [1.0, 2.0], [1.0, 1.0]) == []
    assert empty.residuals([], [1.0], [2.0], weight="unit") == [-2.0, -0.0]


def test_non_finite_parameters_give_non_finite_entries():
    r = RC.residuals([math.nan, 1.0, 1.0], [1.0, 2.0], [1.0, 1.0])
    assert all(math.isnan(v) for v in r[0::2]) and all(math.isfinite(v) for v in r[1::2])
    jac = RC.jacobian([math.inf, 1.0, 1.0], [1.0], [1.0])
    assert math.isnan(jac[0][0])


@pytest.mark.parametrize("params, fragment", [
    ("123", "argument 'params'"),
    (None, "argument 'params'"),
    ([1.0, "x", 2.0], "argument 'params'"),
])
def test_params_conversion_errors_name_the_argument(params, fragment):
    with pytest.raises(TypeError, match=fragment):
        RC.residuals(params, [1.0], [1.0])


def test_signatures_and_docstrings():
    assert RC.residuals.__text_signature__ == '($self, params, frequencies, impedances=None, weight="modulus")'
    assert RC.jacobian.__text_signature__ == '($self, params, frequencies, impedances=None, weight="modulus")'
    assert vorlane.Circuit.residuals.__doc__.startswith("Weighted residual vector (interleaved `[re0, im0, ")
    assert vorlane.Circuit.jacobian.__doc__.endswith("matching what `scipy.optimize.least_squares(jac=...)` "
                                                     "expects.")


def test_scipy_least_squares_fits_a_real_spectrum():
    optimize = pytest.importorskip("scipy.optimize")
    data = np.loadtxt(DATA_DIR / "dummy_cell_a_1.csv", delimiter=",", skiprows=1)
    f, z = data[:, 0], data[:, 1] + 1j * data[:, 2]
    result = optimize.least_squares(
        lambda p: RC.residuals(p, f, z), x0=[10.0, 10.0, 1e-6],
        jac=lambda p: RC.jacobian(p, f, z), x_scale="jac", bounds=([0, 0, 0], [np.inf] * 3))
    assert result.success
    r0, r1, c1 = result.x
    assert r0 == pytest.approx(29.1, rel=0.02)
    assert r1 == pytest.approx(46.7, rel=0.02)
    assert c1 == pytest.approx(1.04e-5, rel=0.05)
