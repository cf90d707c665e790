"""A first look at vorlane on a real measured spectrum.

Builds the circuit R0-(R1,C1) with values near those of the bundled test
cell, prints its parameter table, compares its impedance with the
measurement at the frequencies the instrument recorded, then fits the
circuit to the measurement from a guessed start, without any hand-made
starting values, and draws the fit in the Nyquist plane. The picture,
quickstart_nyquist.png, goes into the folder given as argument, else into
the `output` folder beside this script (examples/output). Runs from any
folder: the spectrum comes with vorlane (vorlane.datasets).

    python examples/quickstart.py [output folder]
"""

import sys

import vorlane
from example_output import output_folder


def complex_text(z: complex) -> str:
    return f"{z.real:11.4f} {z.imag:+11.4f}j"


def main() -> None:
    frequencies, measured = vorlane.datasets.load_arrays("dummy_cell_a_1")

    circuit = vorlane.Circuit("R0-(R1,C1)").with_named_values({"R0.r": 30.0, "R1.r": 45.0, "C1.c": 1e-5})
    print(circuit)
    print()

    model = circuit.impedance(frequencies)
    print(f"{'f / Hz':>12}  {'model / ohm':>24}  {'measured / ohm':>24}")
    for f, z_model, z_measured in zip(frequencies, model, measured):
        print(f"{f:12.4g}  {complex_text(complex(z_model))}  {complex_text(complex(z_measured))}")
    print()

    # A circuit parsed from a string holds placeholder values, so fit()
    # starts from the bundled network's guess for this topology.
    result = vorlane.Circuit("R0-(R1,C1)").fit(frequencies, measured)
    print(result)
    print(result.circuit)

    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    from vorlane import plot

    plot.fit(result, frequencies, measured)
    target = output_folder(sys.argv) / "quickstart_nyquist.png"
    plt.savefig(target, dpi=110)
    print(f"\nNyquist plot of the fit: {target}")


if __name__ == "__main__":
    main()
