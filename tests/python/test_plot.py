"""vorlane.plot, headless: the data on the axes is the spectrum given, in
every form a fit takes, with labels and units."""

import subprocess
import sys
import textwrap

import matplotlib
import numpy as np
import pandas as pd
import pytest

import vorlane
from conftest import DATA_DIR
from vorlane import plot

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


@pytest.fixture(autouse=True)
def close_figures():
    yield
    plt.close("all")


def spectrum_forms(spectrum):
    """The same spectrum as two lists, two arrays, a dict of lists and a dataframe."""
    return {
        "lists": (list(spectrum.frequencies), list(spectrum.impedances)),
        "arrays": (spectrum.frequencies, spectrum.impedances),
        "dict": (spectrum.columns, None),
        "dataframe": (pd.DataFrame(spectrum.columns), None),
    }


FORMS = ["lists", "arrays", "dict", "dataframe"]


@pytest.mark.parametrize("form", FORMS)
def test_nyquist_draws_the_input(measured_spectrum, form):
    frequencies, impedances = spectrum_forms(measured_spectrum)[form]
    ax = plot.nyquist(frequencies, impedances)
    (line,) = ax.get_lines()
    np.testing.assert_array_equal(line.get_xdata(), measured_spectrum.impedances.real)
    np.testing.assert_array_equal(line.get_ydata(), -measured_spectrum.impedances.imag)
    assert (ax.get_xlabel(), ax.get_ylabel()) == ("Z' / Ω", "−Z'' / Ω")
    assert ax.get_aspect() == 1.0


@pytest.mark.parametrize("form", FORMS)
def test_bode_draws_modulus_and_phase(dummy_cell_a, form):
    frequencies, impedances = spectrum_forms(dummy_cell_a)[form]
    modulus_ax, phase_ax = plot.bode(frequencies, impedances)
    (modulus,) = modulus_ax.get_lines()
    (phase,) = phase_ax.get_lines()
    np.testing.assert_array_equal(modulus.get_xdata(), dummy_cell_a.frequencies)
    np.testing.assert_array_equal(modulus.get_ydata(), np.abs(dummy_cell_a.impedances))
    np.testing.assert_array_equal(phase.get_ydata(), np.degrees(np.angle(dummy_cell_a.impedances)))
    assert (modulus_ax.get_xscale(), modulus_ax.get_yscale(), phase_ax.get_xscale()) == ("log", "log", "log")
    assert (modulus_ax.get_ylabel(), phase_ax.get_ylabel(), phase_ax.get_xlabel()) == (
        "|Z| / Ω",
        "phase / °",
        "f / Hz",
    )


def test_existing_axes_are_drawn_on_and_returned(dummy_cell_a):
    figure, (top, middle, bottom) = plt.subplots(3)
    assert plot.nyquist(dummy_cell_a.frequencies, dummy_cell_a.impedances, ax=top, label="a") is top
    assert plot.bode(dummy_cell_a.frequencies, dummy_cell_a.impedances, axes=(middle, bottom)) == (middle, bottom)
    assert top.get_legend().get_texts()[0].get_text() == "a"
    assert len(figure.axes) == 3


def test_dataframe_rows_at_zero_frequency_are_left_out_as_in_a_fit():
    frame = {
        "Frequency / Hz": [0.0, 10.0, 1.0],
        "Real Impedance / ohm": [5.0, 1.0, 2.0],
        "Imaginary Impedance / ohm": [0.0, -1.0, -2.0],
    }
    (line,) = plot.nyquist(frame).get_lines()
    assert list(line.get_xdata()) == [1.0, 2.0]
    assert list(line.get_ydata()) == [1.0, 2.0]


@pytest.mark.parametrize(
    "arguments, error, message",
    [
        (([1.0, 2.0], [1.0]), ValueError, "frequencies and impedances must have the same length"),
        (({"x": [1.0]},), ValueError, 'expected a dataframe with a "Frequency / Hz"'),
        (("R0", [1.0]), TypeError, "Sequence"),
    ],
)
def test_bad_spectra_raise_the_fit_errors(arguments, error, message):
    with pytest.raises(error, match=message):
        plot.nyquist(*arguments)


def test_fit_view_shows_points_model_curve_and_residuals(dummy_cell_a):
    f, z = dummy_cell_a.frequencies, dummy_cell_a.impedances
    result = vorlane.Circuit("R0-(R1,C1)").fit(f, z)
    nyquist_ax, residual_ax = plot.fit(result, f, z)
    measured, curve = nyquist_ax.get_lines()
    np.testing.assert_array_equal(measured.get_xdata(), z.real)
    # The curve runs over the measured range on a finer grid than the points.
    curve_z = result.circuit.impedance(plot._curve_frequencies(f))
    assert len(curve_z) > 2 * len(f)
    np.testing.assert_array_equal(curve.get_xdata(), curve_z.real)
    np.testing.assert_array_equal(curve.get_ydata(), -curve_z.imag)
    real, imag = residual_ax.get_lines()[:2]
    relative = (z - result.circuit.impedance(f)) / np.abs(z)
    np.testing.assert_allclose(real.get_ydata(), 100 * relative.real, rtol=1e-12)
    np.testing.assert_allclose(imag.get_ydata(), 100 * relative.imag, rtol=1e-12)
    np.testing.assert_array_equal(real.get_xdata(), f)
    assert residual_ax.get_ylabel().endswith("/ %") and residual_ax.get_xscale() == "log"
    assert [t.get_text() for t in nyquist_ax.get_legend().get_texts()] == ["measured", "R0-(R1,C1)"]


def test_curve_grid_spans_the_measured_range_from_high_to_low():
    grid = plot._curve_frequencies(np.array([0.0, 1.0, 1000.0, float("nan"), -5.0]))
    assert grid[0] == pytest.approx(1000.0) and grid[-1] == pytest.approx(1.0)
    assert np.all(np.diff(grid) < 0) and len(grid) == 3 * plot.CURVE_POINTS_PER_DECADE + 1
    assert plot._curve_frequencies(np.array([-1.0])).size == 0


def test_fit_view_takes_a_circuit_and_refuses_other_objects(dummy_cell_a):
    circuit = vorlane.Circuit("R0-(R1,C1)").with_values([29.0, 47.0, 1e-5])
    nyquist_ax, _ = plot.fit(circuit, dummy_cell_a.columns)
    assert nyquist_ax.get_legend().get_texts()[1].get_text() == "R0-(R1,C1)"
    with pytest.raises(TypeError, match="expected a FitResult or a Circuit, got 'str'"):
        plot.fit("R0-(R1,C1)", dummy_cell_a.columns)


def test_parameters_view_plots_each_fit_by_index_with_gaps_for_errors(dummy_cell_a):
    circuit = vorlane.Circuit("R0-(R1,C1)")
    results = [circuit.fit(dummy_cell_a.columns), ValueError("failed"), circuit.fit(dummy_cell_a.columns)]
    axes = plot.parameters(results)
    assert [ax.get_ylabel() for ax in axes] == ["R0.r / ohm", "R1.r / ohm", "C1.c / F"]
    values = axes[1].get_lines()[0].get_ydata()
    assert values[0] == results[0].params["R1.r"] and np.isnan(values[1]) and values[2] == results[2].params["R1.r"]
    assert axes[-1].get_xlabel() == "spectrum index"
    only = plot.parameters(results, names=["C1.c"])
    assert len(only) == 1 and only[0].get_lines()[0].get_ydata()[2] == results[2].params["C1.c"]


@pytest.mark.parametrize(
    "results, names, message",
    [
        ([ValueError("x")], None, "no FitResult to plot"),
        (None, ["R9.r"], "fit 0 has no parameter 'R9.r'"),
    ],
)
def test_parameters_view_errors(dummy_cell_a, results, names, message):
    if results is None:
        results = [vorlane.Circuit("R0-(R1,C1)").fit(dummy_cell_a.columns)]
    with pytest.raises(ValueError, match=message):
        plot.parameters(results, names=names)


@pytest.mark.parametrize("arguments, error, message", [
    ({"names": [], "axes": []}, ValueError, "names is empty: name at least one parameter to plot"),
    ({"names": []}, ValueError, "names is empty"),
    ({"names": "R1.r"}, TypeError, r"names: expected a list of parameter names, got 'str' \(write \['R1.r'\]"),
    ({"names": [1]}, TypeError, "names: parameter names must be str, got 1"),
    ({"names": ["R1.r"], "axes": 5}, TypeError, "axes: expected a sequence of axes, one per parameter, got 'int'"),
    ({"names": ["R1.r"], "axes": []}, ValueError, "expected 1 axes, one per parameter, got 0"),
])
def test_parameters_view_refuses_empty_or_mistyped_names_and_axes(dummy_cell_a, arguments, error, message):
    results = [vorlane.Circuit("R0-(R1,C1)").fit(dummy_cell_a.columns)]
    with pytest.raises(error, match=message):
        plot.parameters(results, **arguments)
    with pytest.raises(TypeError, match="expected a list of FitResult, got 'FitResult'"):
        plot.parameters(results[0])


def test_missing_matplotlib_names_the_extra(monkeypatch, dummy_cell_a):
    monkeypatch.setitem(sys.modules, "matplotlib.pyplot", None)
    with pytest.raises(ImportError, match=r'pip install "vorlane\[plot\]"'):
        plot.nyquist(dummy_cell_a.columns)


def test_plot_module_loads_without_matplotlib_until_a_plot_is_made():
    code = f"""
        import sys
        sys.path[:0] = {sys.path!r}
        import vorlane
        vorlane.plot.nyquist
        print("matplotlib" in sys.modules)
    """
    out = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=120, check=True
    )
    assert out.stdout.split() == ["False"]


def test_kramers_kronig_view_draws_the_chain_and_its_residuals():
    spectrum = vorlane.read_spectrum(DATA_DIR / "li_ion_cell.csv")
    result = vorlane.kramers_kronig(spectrum)
    nyquist_ax, residual_ax = plot.kramers_kronig(result, spectrum)
    measured, chain = nyquist_ax.get_lines()
    np.testing.assert_array_equal(measured.get_ydata(), -spectrum["Imaginary Impedance / ohm"].to_numpy())
    np.testing.assert_array_equal(chain.get_xdata(), result.impedance.real)
    np.testing.assert_array_equal(chain.get_ydata(), -result.impedance.imag)
    real, imag = residual_ax.get_lines()[:2]
    np.testing.assert_array_equal(real.get_xdata(), spectrum["Frequency / Hz"].to_numpy())
    np.testing.assert_array_equal(real.get_ydata(), 100 * result.residuals_real)
    np.testing.assert_array_equal(imag.get_ydata(), 100 * result.residuals_imag)
    assert nyquist_ax.get_title() == f"Kramers–Kronig: valid, noise {result.noise:.2g} %, m = {result.m}"
    assert residual_ax.get_ylabel().endswith("/ %")
    band = residual_ax.patches[0]
    assert band.get_y() == pytest.approx(-result.noise) and band.get_height() == pytest.approx(2 * result.noise)


def test_kramers_kronig_view_rings_the_outliers():
    f = np.logspace(5, -2, 60)
    z = np.asarray(vorlane.Circuit("R0-(R1,C1)").with_values([10.0, 100.0, 1e-5]).impedance(f))
    z = z * (1 + 1e-3 * np.random.default_rng(0).standard_normal(60))
    z[30] *= 1.1
    result = vorlane.kramers_kronig(f, z)
    nyquist_ax, residual_ax = plot.kramers_kronig(result, f, z)
    ring = [line for line in nyquist_ax.get_lines() if line.get_label() == "outlier"][0]
    assert ring.get_xdata().tolist() == [z[30].real]
    assert residual_ax.get_lines()[-1].get_xdata().tolist() == [f[30]]


def test_kramers_kronig_view_refuses_another_spectrum(dummy_cell_a):
    result = vorlane.kramers_kronig(dummy_cell_a.columns)
    shorter = {key: values[:-1] for key, values in dummy_cell_a.columns.items()}
    points = len(dummy_cell_a.frequencies)
    with pytest.raises(ValueError, match=f"has {points} points but the spectrum has {points - 1}"):
        plot.kramers_kronig(result, shorter)


def test_kramers_kronig_view_refuses_a_fit_result(dummy_cell_a):
    fitted = vorlane.Circuit("R0-(R1,C1)").fit(dummy_cell_a.columns)
    with pytest.raises(TypeError, match="expected the result of vorlane.kramers_kronig \\(a KramersKronigResult\\), "
                                        "got 'FitResult': plot a fit with vorlane.plot.fit"):
        plot.kramers_kronig(fitted, dummy_cell_a.columns)
    with pytest.raises(TypeError, match="got 'dict'$"):
        plot.kramers_kronig({"m": 3}, dummy_cell_a.columns)


def test_parameters_view_of_a_fit_many_series_with_a_collected_error(dummy_cell_a):
    broken = {"Frequency / Hz": [1.0], "Real Impedance / ohm": [1.0], "Imaginary Impedance / ohm": [0.0]}
    results = vorlane.Circuit("R0-(R1,C1)").fit_many([dummy_cell_a.columns, broken], errors="collect")
    assert isinstance(results[1], Exception)
    axes = plot.parameters(results, names=["R1.r"])
    values = axes[0].get_lines()[0].get_ydata()
    assert values[0] == results[0].params["R1.r"] and np.isnan(values[1])
