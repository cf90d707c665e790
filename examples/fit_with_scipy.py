"""Drive a vorlane circuit from scipy.optimize.least_squares.

Circuit.residuals and Circuit.jacobian hand the weighted residual vector and
its Jacobian to any external optimiser; here scipy fits R0-(R1,C1) to a
measured spectrum of a physical test circuit (bundled with vorlane) and the
result is compared with vorlane's own fit. Prints only; runs from any folder.

    python examples/fit_with_scipy.py
"""

import numpy as np
from numpy.typing import NDArray
from scipy.optimize import least_squares

import vorlane

def main() -> None:
    frequencies, impedances = vorlane.datasets.load_arrays("dummy_cell_a_1")

    circuit = vorlane.Circuit("R0-(R1,C1)")
    start = [10.0, 10.0, 1e-6]
    lower = [lo for lo, _ in circuit.param_bounds()]
    upper = [hi for _, hi in circuit.param_bounds()]

    def residuals(p: NDArray[np.float64]) -> list[float]:
        return circuit.residuals(p, frequencies, impedances)

    def jacobian(p: NDArray[np.float64]) -> list[list[float]]:
        return circuit.jacobian(p, frequencies, impedances)

    scipy_fit = least_squares(
        residuals,
        x0=start,
        jac=jacobian,
        bounds=(lower, upper),
        x_scale="jac",
        method="trf",
    )
    own_fit = circuit.with_values(start).fit(frequencies, impedances)

    print(f"{'parameter':<10} {'scipy':>14} {'vorlane':>14}")
    for name, value in zip(circuit.param_names(), scipy_fit.x):
        print(f"{name:<10} {value:>14.6g} {own_fit.params[name]:>14.6g}")
    print(f"{'cost':<10} {scipy_fit.cost:>14.6g} {own_fit.cost:>14.6g}")


if __name__ == "__main__":
    main()
