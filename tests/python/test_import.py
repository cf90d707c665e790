"""Module initialisation: what `import vorlane` registers, in which order,
and that numpy is reached only when an array is returned."""

import subprocess
import sys
import textwrap
from inspect import ismodule

import vorlane

CANONICAL_NAMES = ["R", "C", "L", "La", "Cpe", "W", "Wo", "Ws", "G", "Gs", "K", "Zarc", "Tlmq", "T"]


def run_python(code):
    """Runs `code` in a fresh interpreter with this one's module path."""
    result = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert result.returncode == 0, result.stderr
    return result.stdout


def test_registration_order_and_aliases():
    # Submodules (vorlane.plot, vorlane.readers) join the namespace once imported.
    public = [name for name, value in vars(vorlane).items() if not name.startswith("_") and not ismodule(value)]
    assert public == ["Element", "Circuit", "FitResult", "Series", "Parallel", "KramersKronigResult",
                      "kramers_kronig", *CANONICAL_NAMES, "kernel_variant", "read_spectrum", "results_table",
                      "drop_outliers", "group_keys"]
    assert all(getattr(vorlane, name) is getattr(vorlane.Element, name) for name in CANONICAL_NAMES)
    assert vorlane._core.__doc__ == ""


def test_help_describes_the_package():
    first_line, *rest = vorlane.__doc__.splitlines()
    assert first_line == "Equivalent-circuit analysis of electrochemical impedance spectra."
    names = ["Circuit", "FitResult", "Series", "read_spectrum", "kramers_kronig", "vorlane.plot"]
    assert all(name in vorlane.__doc__ for name in names)


def test_import_does_not_import_numpy_or_pandas():
    out = run_python(
        f"""
        import sys
        sys.path[:0] = {sys.path!r}
        import vorlane
        c = vorlane.Circuit("R0-(R1,C1)")
        c.param_names(), c.param_values(), repr(c), c.with_values([1, 2, 3])
        print(any(name in sys.modules for name in ["numpy", "pandas", "polars", "dask", "tqdm", "vorlane.readers"]))
        z = c.impedance([1.0])
        print("numpy" in sys.modules, type(z).__module__)
        """
    )
    assert out.split() == ["False", "True", "numpy"]


def test_missing_numpy_fails_only_the_array_call():
    out = run_python(
        f"""
        import sys
        sys.path[:0] = {sys.path!r}
        sys.modules["numpy"] = None
        import vorlane
        c = vorlane.Circuit("R0")
        for attempt in range(2):
            try:
                c.impedance([1.0])
            except ImportError as error:
                print(str(error), type(error.__cause__).__name__)
        print(c.param_values())
        """
    )
    assert out.splitlines() == [
        "Failed to access NumPy array API capsule ModuleNotFoundError",
        "Failed to access NumPy array API capsule ModuleNotFoundError",
        "[1.0]",
    ]
