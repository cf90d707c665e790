"""Check the bundled spectra of real cells with the linear Kramers-Kronig
test before fitting them: print the verdict, the noise, the systematic part
of the residuals and its threshold, and write a picture of each test (the RC
chain over the measured points and the relative residuals). Residuals that
are noise mean the measurement is linear, causal and stable; gamry_cell's
low-frequency end is not. The pictures go
into the folder given as argument, else into the `output` folder beside this
script (examples/output).

    python examples/kramers_kronig_check.py [output folder]
"""

import sys

import matplotlib

matplotlib.use("Agg")

import vorlane  # noqa: E402
from example_output import output_folder, save_figure  # noqa: E402
from vorlane import plot  # noqa: E402

CELLS = ["li_ion_cell", "autolab_cell", "gamry_cell"]


def main() -> None:
    folder = output_folder(sys.argv)
    print(f"{'spectrum':16} {'valid':>5} {'noise %':>8} {'systematic %':>13} {'threshold %':>12} {'m':>3}  picture")
    for name in CELLS:
        frequencies, impedances = vorlane.datasets.load_arrays(name)
        result = vorlane.kramers_kronig(frequencies, impedances)
        plot.kramers_kronig(result, frequencies, impedances)
        target = save_figure(folder / f"{name}_kramers_kronig.png")
        print(f"{name:16} {str(result.valid):>5} {result.noise:8.3f} {result.systematic:13.3f} "
              f"{result.threshold:12.3f} {result.m:3d}  {target}")


if __name__ == "__main__":
    main()
