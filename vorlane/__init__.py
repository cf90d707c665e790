"""Equivalent-circuit analysis of electrochemical impedance spectra.

Describe a circuit as a string such as "R0-(R1,CPE1)" (or by a model name
such as "randles"), evaluate its impedance and fit it to a measured
spectrum; starting values come from small bundled networks, so no
hand-tuning is needed:

    import vorlane
    spectrum = vorlane.read_spectrum("cell.DTA")     # or two sequences
    print(vorlane.kramers_kronig(spectrum))          # a valid measurement?
    result = vorlane.Circuit("R0-(R1,CPE1)").fit(spectrum)
    print(result.params, result.stderr)

Circuit         a circuit: parameters, impedance, fit, guess, residuals
FitResult       fitted circuit, values, standard errors, cost, chi-square
Element, R, C, L, La, Cpe, W, Wo, Ws, G, Gs, K, Zarc, Tlmq, T
                the fourteen element kinds, combined with Series and Parallel
read_spectrum   a measurement file as a dataframe (needs pandas)
kramers_kronig  the linear Kramers-Kronig test of a spectrum, with a verdict
drop_outliers   the spectrum without the points the test marked as outliers
vorlane.plot    Nyquist, Bode, fit and Kramers-Kronig plots (needs matplotlib)
vorlane.datasets
                bundled example spectra and instrument files: names,
                describe, load (a dataframe), load_arrays (numpy), path
kernel_variant  which instruction-set variant of the numeric kernels runs
                (all give the same bits; VORLANE_KERNEL_VARIANT picks one)

The user guide is in the docs/ folder of the source distribution.
"""

# The package around the compiled core: the core's classes and functions
# under their own names, in the order the core registers them. Pure-Python
# helpers (file readers, plots, result tables) live in submodules and import
# their optional dependencies only when called, so importing vorlane stays
# cheap.
from vorlane._core import *  # noqa: F401,F403

__version__ = "0.1.0"


def read_spectrum(path, format=None):
    """Read one impedance spectrum from a measurement file.

    Returns a pandas DataFrame (needs pandas) with the columns
    "Frequency / Hz", "Real Impedance / ohm" and "Imaginary Impedance / ohm",
    plus "Test Time / s", "Voltage / V" and "Current / A" where the file holds
    them, one row per measured frequency in the file's order, units
    converted to hertz, ohm, second, volt and ampere, imaginary parts signed
    as measured (negative for capacitive arcs). `Circuit.fit`,
    `kramers_kronig` and the other spectrum functions take it directly;
    `frame.attrs` holds the "source" path and the "format" read.

    `format` None detects the format from the file's first line and its
    extension; or name one of "gamry" (.DTA, also aborted runs), "biologic"
    (.mpt text exports), "zplot" (.z), "autolab" (data-file text exports
    and NOVA column exports), "versastudio" (.par), or "chi", "parstat",
    "powersuite", "csv": text tables (comma, semicolon, tab or blank
    separated) with a header line naming frequency and impedance columns
    (real and imaginary, or modulus and phase), after any preamble. A table
    without a header whose first line holds three numbers is read as
    frequency, real and imaginary part. Text in UTF-8, UTF-16 (with its
    byte-order mark) or Windows-1252; a comma in a number is its decimal
    mark wherever commas do not separate the columns. Rows at zero frequency
    with zero impedance (DC steps some instruments log in the same table)
    are left out; every other row is read or named in an error.

    A file that cannot be read as a spectrum raises ValueError naming the
    file, the line and what was expected there.
    """
    from vorlane.readers import read_spectrum as read

    return read(path, format)


from vorlane._results_table import results_table  # noqa: E402,F401
from vorlane._outliers import drop_outliers  # noqa: E402,F401
from vorlane._frame_groups import group_keys  # noqa: E402,F401
from vorlane._kernel_variant_check import warn_if_not_running_the_requested_variant  # noqa: E402

warn_if_not_running_the_requested_variant()
del warn_if_not_running_the_requested_variant


_LAZY_SUBMODULES = ("plot", "datasets")


def __getattr__(name):
    # Submodules load on first use: `vorlane.plot` and `vorlane.datasets`
    # work after `import vorlane`.
    if name in _LAZY_SUBMODULES:
        import importlib

        return importlib.import_module(f"vorlane.{name}")
    raise AttributeError(f"module 'vorlane' has no attribute {name!r}")
