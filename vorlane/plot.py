"""Nyquist, Bode, fit, Kramers–Kronig and parameter-series plots of impedance spectra.

Needs matplotlib (`pip install "vorlane[plot]"`), imported when a plot is
made. Every function takes a spectrum in any form `Circuit.fit` takes (two
sequences, or one dataframe or dict with the battery data format columns
and `impedances` left as None), draws into the axes it is given or into a
new figure, and returns the axes it drew on.
"""

from __future__ import annotations

import math
from typing import TYPE_CHECKING, Any, Optional, Sequence, Tuple

from vorlane._core import Circuit, FitResult, KramersKronigResult, _spectrum

if TYPE_CHECKING:
    import numpy as np
    from matplotlib.axes import Axes
    from numpy.typing import NDArray

__all__ = ["nyquist", "bode", "fit", "kramers_kronig", "parameters"]

RE_LABEL = "Z' / Ω"
MINUS_IM_LABEL = "−Z'' / Ω"
FREQUENCY_LABEL = "f / Hz"
MODULUS_LABEL = "|Z| / Ω"
PHASE_LABEL = "phase / °"
RESIDUAL_LABEL = "(Z − Z_model) / |Z| / %"

# Points per decade of the model curves drawn through measured points.
CURVE_POINTS_PER_DECADE = 40


def _pyplot() -> Any:
    try:
        import matplotlib.pyplot as pyplot
    except ImportError as error:
        raise ImportError('vorlane.plot needs matplotlib: pip install "vorlane[plot]"') from error
    return pyplot


def _measured(frequencies: Any, impedances: Any) -> Tuple[NDArray[np.float64], NDArray[np.complex128]]:
    import numpy as np

    f, z = _spectrum(frequencies, impedances)
    return np.asarray(f, dtype=np.float64), np.asarray(z, dtype=np.complex128)


def _new_axes(rows: int, height_ratios: Sequence[float]) -> Any:
    figure, axes = _pyplot().subplots(
        rows, 1, figsize=(6.0, 2.0 + 2.5 * rows), gridspec_kw={"height_ratios": list(height_ratios)},
        layout="constrained",
    )
    return axes


def _one_axes() -> Axes:
    axes: Axes = _pyplot().subplots(layout="constrained")[1]
    return axes


def _draw_nyquist(ax: Axes, z: NDArray[np.complex128], **style: Any) -> None:
    ax.plot(z.real, -z.imag, **style)
    ax.set_xlabel(RE_LABEL)
    ax.set_ylabel(MINUS_IM_LABEL)
    # Equal scales keep arcs round; "datalim" stretches the limits, not the box.
    ax.set_aspect("equal", adjustable="datalim")
    ax.grid(True, alpha=0.3)


def nyquist(
    frequencies: Any, impedances: Any = None, *, ax: Optional[Axes] = None, label: Optional[str] = None,
    **style: Any,
) -> Axes:
    """−Im Z against Re Z with equal axis scales, one marker per measured
    point. `style` goes to `Axes.plot` (default: circles)."""
    _, z = _measured(frequencies, impedances)
    if ax is None:
        ax = _one_axes()
    style.setdefault("marker", "o")
    style.setdefault("linestyle", "none")
    _draw_nyquist(ax, z, label=label, **style)
    if label is not None:
        ax.legend()
    return ax


def bode(
    frequencies: Any, impedances: Any = None, *, axes: Optional[Tuple[Axes, Axes]] = None,
    label: Optional[str] = None, **style: Any,
) -> Tuple[Axes, Axes]:
    """|Z| (log scale) and phase in degrees against frequency (log scale),
    on two axes (modulus above, phase below) that share the frequency axis.
    `style` goes to `Axes.plot` (default: circles)."""
    import numpy as np

    f, z = _measured(frequencies, impedances)
    modulus_ax, phase_ax = axes if axes is not None else _new_axes(2, (1.0, 1.0))
    style.setdefault("marker", "o")
    style.setdefault("linestyle", "none")
    modulus_ax.loglog(f, np.abs(z), label=label, **style)
    phase_ax.semilogx(f, np.degrees(np.angle(z)), label=label, **style)
    modulus_ax.set_ylabel(MODULUS_LABEL)
    phase_ax.set_ylabel(PHASE_LABEL)
    phase_ax.set_xlabel(FREQUENCY_LABEL)
    for ax in (modulus_ax, phase_ax):
        ax.grid(True, which="both", alpha=0.3)
    if label is not None:
        modulus_ax.legend()
    return modulus_ax, phase_ax


def _curve_frequencies(f: NDArray[np.float64]) -> NDArray[np.float64]:
    """A log-spaced grid over the measured range, for smooth model curves."""
    import numpy as np

    usable = f[np.isfinite(f) & (f > 0)]
    if usable.size == 0:
        return usable
    low, high = math.log10(float(usable.min())), math.log10(float(usable.max()))
    count = max(int(math.ceil((high - low) * CURVE_POINTS_PER_DECADE)) + 1, 2)
    return np.logspace(low, high, count)[::-1]


def _model_view(
    f: NDArray[np.float64], z: NDArray[np.complex128], curve: NDArray[np.complex128],
    residuals: Tuple[NDArray[np.float64], NDArray[np.float64]], model_label: str,
    axes: Optional[Tuple[Axes, Axes]],
) -> Tuple[Axes, Axes]:
    """The measured points with a model curve in the Nyquist plane above,
    relative residuals in percent against frequency below."""
    nyquist_ax, residual_ax = axes if axes is not None else _new_axes(2, (2.0, 1.0))
    _draw_nyquist(nyquist_ax, z, marker="o", linestyle="none", label="measured")
    nyquist_ax.plot(curve.real, -curve.imag, "-", label=model_label)
    nyquist_ax.legend()
    real, imag = residuals
    residual_ax.semilogx(f, 100.0 * real, "o-", markersize=3, label="real")
    residual_ax.semilogx(f, 100.0 * imag, "s-", markersize=3, label="imaginary")
    residual_ax.axhline(0.0, color="0.5", linewidth=0.8)
    residual_ax.set_xlabel(FREQUENCY_LABEL)
    residual_ax.set_ylabel(RESIDUAL_LABEL)
    residual_ax.grid(True, alpha=0.3)
    residual_ax.legend()
    return nyquist_ax, residual_ax


def fit(
    result: FitResult | Circuit, frequencies: Any, impedances: Any = None, *,
    axes: Optional[Tuple[Axes, Axes]] = None,
) -> Tuple[Axes, Axes]:
    """A fit against its spectrum: the measured points and the fitted
    circuit's impedance on a dense frequency grid in the Nyquist plane, and
    the relative residuals (measured − model) / |measured| of both parts in
    percent against frequency below. `result` is a `FitResult` or any
    `Circuit` (drawn with its own values)."""
    import numpy as np

    circuit = result.circuit if isinstance(result, FitResult) else result
    if not isinstance(circuit, Circuit):
        raise TypeError(f"expected a FitResult or a Circuit, got {type(result).__name__!r}")
    f, z = _measured(frequencies, impedances)
    curve = circuit.impedance(_curve_frequencies(f))
    with np.errstate(divide="ignore", invalid="ignore"):
        relative = (z - circuit.impedance(f)) / np.abs(z)
    residuals = (relative.real, relative.imag)
    return _model_view(f, z, curve, residuals, circuit.circuit_string, axes)


def kramers_kronig(
    result: Any, frequencies: Any, impedances: Any = None, *, axes: Optional[Tuple[Axes, Axes]] = None,
) -> Tuple[Axes, Axes]:
    """A Kramers–Kronig test (the result of `vorlane.kramers_kronig`) against
    the spectrum it was run on: the measured points and the fitted RC chain
    in the Nyquist plane, and its relative residuals in percent below with
    the noise estimate as a band, outliers ringed in both, titled with the
    verdict, the noise and the number of elements. Another kind of result
    (a `FitResult`: use `fit`) raises TypeError."""
    import numpy as np

    if not isinstance(result, KramersKronigResult):
        hint = ": plot a fit with vorlane.plot.fit" if isinstance(result, (FitResult, Circuit)) else ""
        raise TypeError(
            f"expected the result of vorlane.kramers_kronig (a KramersKronigResult), got {type(result).__name__!r}"
            + hint
        )
    f, z = _measured(frequencies, impedances)
    fitted = np.asarray(result.impedance, dtype=np.complex128)
    if fitted.shape != z.shape:
        raise ValueError(
            f"the Kramers-Kronig result has {fitted.size} points but the spectrum has {z.size}: "
            "pass the spectrum the test was run on"
        )
    residuals = (np.asarray(result.residuals_real), np.asarray(result.residuals_imag))
    nyquist_ax, residual_ax = _model_view(f, z, fitted, residuals, f"{result.m} RC elements", axes)
    outliers = np.asarray(result.outliers)
    if outliers.any():
        largest = np.where(np.abs(residuals[0]) > np.abs(residuals[1]), residuals[0], residuals[1])
        for ax, x, y in ((nyquist_ax, z.real, -z.imag), (residual_ax, f, 100.0 * largest)):
            ax.plot(x[outliers], y[outliers], "o", markersize=10, markerfacecolor="none", color="red",
                    label="outlier")
        nyquist_ax.legend()
    if np.isfinite(result.noise):
        residual_ax.axhspan(-result.noise, result.noise, color="0.85", zorder=0)
    verdict = "valid" if result.valid else "not valid"
    nyquist_ax.set_title(f"Kramers–Kronig: {verdict}, noise {result.noise:.2g} %, m = {result.m}")
    return nyquist_ax, residual_ax


def parameters(
    results: Sequence[Any], *, names: Optional[Sequence[str]] = None, axes: Optional[Sequence[Axes]] = None,
) -> Sequence[Axes]:
    """A series of fits (the list `Circuit.fit_many` returns, or any list of
    `FitResult`) as one panel per parameter: the fitted value against the
    spectrum index, with standard errors as error bars where the fit has
    them. Entries that are not a `FitResult` (errors collected by
    `fit_many`) leave a gap. `names` picks parameters (default: all of the
    first fit, in its circuit's order): a list of at least one name, with
    as many `axes` when they are given."""
    import numpy as np

    if isinstance(results, (FitResult, BaseException, str, bytes)) or not hasattr(results, "__iter__"):
        raise TypeError(f"expected a list of FitResult, got {type(results).__name__!r}")
    results = list(results)
    fits = [(index, item) for index, item in enumerate(results) if isinstance(item, FitResult)]
    if not fits:
        raise ValueError("no FitResult to plot")
    if names is None:
        names = fits[0][1].circuit.param_names()
    if isinstance(names, (str, bytes)) or not hasattr(names, "__iter__"):
        hint = f" (write [{names!r}] for one parameter)" if isinstance(names, str) else ""
        raise TypeError(f"names: expected a list of parameter names, got {type(names).__name__!r}{hint}")
    names = list(names)
    if not names:
        raise ValueError("names is empty: name at least one parameter to plot")
    for name in names:
        if not isinstance(name, str):
            raise TypeError(f"names: parameter names must be str, got {name!r}")
    if axes is not None:
        if not hasattr(axes, "__iter__"):
            raise TypeError(f"axes: expected a sequence of axes, one per parameter, got {type(axes).__name__!r}")
        axes = list(axes)
    if axes is None:
        figure, grid = _pyplot().subplots(
            len(names), 1, sharex=True, squeeze=False, figsize=(6.0, 1.0 + 1.8 * len(names)), layout="constrained"
        )
        axes = list(grid[:, 0])
    if len(axes) != len(names):
        raise ValueError(f"expected {len(names)} axes, one per parameter, got {len(axes)}")
    units = dict(zip(fits[0][1].circuit.param_names(), fits[0][1].circuit.param_units()))
    index = np.arange(len(results))
    for name, ax in zip(names, axes):
        values = np.full(len(results), np.nan)
        errors = np.full(len(results), np.nan)
        for position, result in fits:
            if name not in result.params:
                raise ValueError(f"fit {position} has no parameter {name!r}")
            values[position] = result.params[name]
            if result.stderr is not None:
                errors[position] = result.stderr.get(name, np.nan)
        ax.errorbar(index, values, yerr=errors, marker="o", markersize=3, capsize=2)
        unit = units.get(name, "-")
        ax.set_ylabel(name if unit == "-" else f"{name} / {unit}")
        ax.grid(True, alpha=0.3)
    axes[-1].set_xlabel("spectrum index")
    return axes
