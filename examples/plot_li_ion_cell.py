"""The Li-ion cell: fit the bundled two-arc circuits with a diffusion tail,
keep the one with the lowest chi-square per degree of freedom, and write its
fit and a Bode plot of the spectrum with the fitted curve. The pictures go
into the folder given as argument, else into the `output` folder beside this
script (examples/output).

    python examples/plot_li_ion_cell.py [output folder]
"""

import sys

import matplotlib

matplotlib.use("Agg")

import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import vorlane  # noqa: E402
from example_output import output_folder  # noqa: E402
from vorlane import plot  # noqa: E402

CANDIDATES = ["two_rq", "two_rq_l", "sei_randles", "sei_randles_wo"]


def reduced_chi_square(result: vorlane.FitResult, points: int) -> float:
    return result.chi_square / (2 * points - len(result.params))


def main() -> None:
    folder = output_folder(sys.argv)
    frequencies, impedances = vorlane.datasets.load_arrays("li_ion_cell")
    points = len(frequencies)
    fits = {name: vorlane.Circuit(name).fit(frequencies, impedances) for name in CANDIDATES}
    for name, result in fits.items():
        print(f"{name:15} {result.circuit.circuit_string:28} reduced chi-square {reduced_chi_square(result, points):.3g}")
    best = min(fits.values(), key=lambda result: reduced_chi_square(result, points))

    nyquist_ax, _ = plot.fit(best, frequencies, impedances)
    nyquist_ax.set_title(f"Li-ion cell: {best.circuit.circuit_string}")
    plt.savefig(folder / "li_ion_fit.png", dpi=110)

    modulus_ax, phase_ax = plot.bode(frequencies, impedances, label="measured")
    grid = np.logspace(np.log10(frequencies.min()), np.log10(frequencies.max()), 200)
    fitted = best.circuit.impedance(grid)
    plot.bode(grid, fitted, axes=(modulus_ax, phase_ax), label=best.circuit.circuit_string, marker="", linestyle="-")
    plt.savefig(folder / "li_ion_bode.png", dpi=110)
    plt.close("all")
    print(f"{folder / 'li_ion_fit.png'}\n{folder / 'li_ion_bode.png'}")


if __name__ == "__main__":
    main()
