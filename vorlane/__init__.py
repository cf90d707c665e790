"""Equivalent-circuit analysis of electrochemical impedance spectra.

Describe a circuit as a string such as "R0-(R1,CPE1)" (or by a model name
such as "randles"), evaluate its impedance and fit it to a measured
spectrum; starting values come from small bundled networks, so no
hand-tuning is needed:

    import vorlane
    circuit = vorlane.Circuit("R0-(R1,CPE1)")
    result = circuit.fit(frequencies, impedances)   # or circuit.fit(dataframe)
    print(result.params, result.stderr)

Circuit         a circuit: parameters, impedance, fit, guess, residuals
FitResult       fitted circuit, values, standard errors, cost, chi-square
Element, R, C, L, La, Cpe, W, Wo, Ws, G, Gs, K, Zarc, Tlmq, T
                the fourteen element kinds, combined with Series and Parallel
vorlane.plot    Nyquist, Bode and fit plots (needs matplotlib)

The user guide is in the docs/ folder of the source distribution.
"""

# The package around the compiled core: the core's classes under their own
# names, in the order the core registers them. Pure-Python helpers (file
# readers, plots, result tables) live in submodules and import their optional
# dependencies only when called, so importing vorlane stays cheap.
from vorlane._core import *  # noqa: F401,F403

__version__ = "0.1.0"


def __getattr__(name):
    # Submodules load on first use: `vorlane.plot` works after `import vorlane`.
    if name == "plot":
        import importlib

        return importlib.import_module("vorlane.plot")
    raise AttributeError(f"module 'vorlane' has no attribute {name!r}")
