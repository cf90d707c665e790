"""A first look at vorlane on a real measured spectrum.

Builds the circuit R0-(R1,C1) with values near those of the bundled test
cell, prints its parameter table, compares its impedance with the
measurement at the frequencies the instrument recorded, and then fits the
circuit to the measurement from a guessed start, without any hand-made
starting values.
"""

import csv
from pathlib import Path

import vorlane

DATA = Path(__file__).resolve().parent / "data" / "dummy_cell_a_1.csv"


def read_spectrum(path):
    """Frequencies (Hz) and complex impedances (ohm) of a Battery Data Format CSV file."""
    with open(path, newline="") as handle:
        rows = list(csv.DictReader(handle))
    frequencies = [float(row["Frequency / Hz"]) for row in rows]
    impedances = [complex(float(row["Real Impedance / ohm"]), float(row["Imaginary Impedance / ohm"]))
                  for row in rows]
    return frequencies, impedances


def complex_text(z):
    return f"{z.real:11.4f} {z.imag:+11.4f}j"


def main():
    frequencies, measured = read_spectrum(DATA)

    circuit = vorlane.Circuit("R0-(R1,C1)").with_named_values({"R0.r": 30.0, "R1.r": 45.0, "C1.c": 1e-5})
    print(circuit)
    print()

    model = circuit.impedance(frequencies)
    print(f"{'f / Hz':>12}  {'model / ohm':>24}  {'measured / ohm':>24}")
    for f, z_model, z_measured in zip(frequencies, model, measured):
        print(f"{f:12.4g}  {complex_text(z_model)}  {complex_text(z_measured)}")
    print()

    # A circuit parsed from a string holds placeholder values, so fit()
    # starts from the bundled network's guess for this topology.
    result = vorlane.Circuit("R0-(R1,C1)").fit(frequencies, measured)
    print(result)
    print(result.circuit)


if __name__ == "__main__":
    main()
