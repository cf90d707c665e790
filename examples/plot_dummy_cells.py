"""Fit R0-(R1,C1) to each sweep of the three physical R-(R||C) test cells and
write one picture per sweep: the Nyquist plot of the measured points with the
fitted curve, and the relative residuals below. The pictures go into the
folder given as argument, else into the `output` folder beside this script
(examples/output).

    python examples/plot_dummy_cells.py [output folder]
"""

import sys

import matplotlib

matplotlib.use("Agg")

import vorlane  # noqa: E402
from example_output import output_folder, save_figure  # noqa: E402
from vorlane import plot  # noqa: E402


def main() -> None:
    folder = output_folder(sys.argv)
    circuit = vorlane.Circuit("R0-(R1,C1)")
    for cell in [name for name in vorlane.datasets.names() if name.startswith("dummy_cell_")]:
        frequencies, impedances = vorlane.datasets.load_arrays(cell)
        result = circuit.fit(frequencies, impedances)
        nyquist_ax, _ = plot.fit(result, frequencies, impedances)
        values = ", ".join(f"{name} = {result.params[name]:.4g}" for name in result.circuit.param_names())
        nyquist_ax.set_title(f"{cell}: {values}", fontsize=9)
        target = save_figure(folder / f"{cell}_fit.png")
        print(f"{target}  chi_square = {result.chi_square:.3g}")


if __name__ == "__main__":
    main()
