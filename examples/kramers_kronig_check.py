"""Check the bundled spectra of real cells with the linear Kramers-Kronig
test before fitting them: print the number of RC elements, mu and the pseudo chi-square,
and write a picture of each test (the RC chain over the measured points and
the relative residuals). Residuals that stay within the noise (a fraction of
a percent) mean the measurement is linear, causal and stable. The pictures go
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
    print(f"{'spectrum':16} {'m':>3} {'mu':>6} {'pseudo chi²':>12}  picture")
    for name in CELLS:
        frequencies, impedances = vorlane.datasets.load_arrays(name)
        # A series L for the inductive high-frequency tails, a series C for
        # the diffusion tails that keep rising at low frequency.
        result = vorlane.kramers_kronig(frequencies, impedances, capacitance=True, inductance=True)
        plot.kramers_kronig(result, frequencies, impedances)
        target = save_figure(folder / f"{name}_kramers_kronig.png")
        print(f"{name:16} {result.m:3d} {result.mu:6.3f} {result.pseudo_chi_square:12.3g}  {target}")


if __name__ == "__main__":
    main()
