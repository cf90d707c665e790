"""Fit R0-(R1,C1) to each sweep of the three physical R-(R||C) test cells and
write one picture per sweep: the Nyquist plot of the measured points with the
fitted curve, and the relative residuals below.

    python examples/plot_dummy_cells.py [output folder]
"""

import sys

import matplotlib

matplotlib.use("Agg")

import vorlane  # noqa: E402
from measured import DATA, output_folder, read_columns, save_figure  # noqa: E402
from vorlane import plot  # noqa: E402


def main() -> None:
    folder = output_folder(sys.argv)
    circuit = vorlane.Circuit("R0-(R1,C1)")
    for path in sorted(DATA.glob("dummy_cell_*.csv")):
        spectrum = read_columns(path.name)
        result = circuit.fit(spectrum)
        nyquist_ax, _ = plot.fit(result, spectrum)
        values = ", ".join(f"{name} = {result.params[name]:.4g}" for name in result.circuit.param_names())
        nyquist_ax.set_title(f"{path.stem}: {values}", fontsize=9)
        target = save_figure(folder / f"{path.stem}_fit.png")
        print(f"{target}  chi_square = {result.chi_square:.3g}")


if __name__ == "__main__":
    main()
