"""Type information and documentation of the compiled core, vorlane._core."""

from typing import Any, Mapping, Protocol, Sequence, SupportsComplex, SupportsFloat, final

import numpy as np
from numpy.typing import NDArray
from typing_extensions import Self, TypeAlias, disjoint_base

class _Frame(Protocol):
    """A dataframe or dict indexed by column name, with the battery data format
    columns "Frequency / Hz" (or "frequency_hertz") and either "Real Impedance
    / ohm" with "Imaginary Impedance / ohm" or "Absolute Impedance / ohm" with
    "Phase / deg" (or their snake_case forms)."""

    def __getitem__(self, key: str, /) -> Any: ...

_Floats: TypeAlias = Sequence[SupportsFloat] | NDArray[Any]
_Complexes: TypeAlias = Sequence[SupportsComplex | SupportsFloat | complex] | NDArray[Any]
_FrequenciesOrFrame: TypeAlias = _Floats | _Frame

@final
class Circuit:
    """An immutable equivalent circuit: its topology and one value per parameter.

    Build it from a circuit string such as "R0-(R1,CPE1)" (series with "-",
    parallel with "(...)" or "p(...)", each element a code followed by a
    numeric label) or from a bundled model name such as "randles" (see
    `ml_circuits()`), or compose element objects with `Series` and `Parallel`.
    A circuit parsed from a string holds placeholder values, so `fit()`
    guesses its starting values; `with_values()` and `with_named_values()`
    give it explicit ones. Printing it shows the parameter table.

    Raises ValueError for a text that does not parse, with a caret under the
    offending character and the list of element codes.
    """

    def __new__(cls, s: str) -> Self: ...
    def __copy__(self) -> Self:
        """The object itself: it is immutable."""
    def __deepcopy__(self, memo: dict[int, Any], /) -> Self:
        """The object itself: it is immutable."""
    @property
    def circuit_string(self) -> str:
        """This circuit in the circuit-string grammar, each element under its
        label: `Circuit("randles").circuit_string` is "R0-(R1-W1,CPE1)"."""
    def param_names(self) -> list[str]:
        """Parameter names ("R0.r", "CPE1.alpha", ...), in the order
        `with_values()` consumes and `with_named_values()` expects as keys."""
    def param_units(self) -> list[str]:
        """Physical unit of each parameter ("ohm", "F", "-", ...), in
        `param_names()` order."""
    def param_bounds(self) -> list[tuple[float, float]]:
        """Default physical-validity `(lo, hi)` bounds per parameter, in
        `param_names()` order: (0, 1) for the exponents `alpha` and `gamma`,
        (1e-12, inf) for every other parameter."""
    def param_values(self) -> list[float]:
        """Current parameter values, in `param_names()` order."""
    def with_values(self, values: Sequence[SupportsFloat] | NDArray[Any]) -> Circuit:
        """A new circuit with these values, assigned in `param_names()` order.
        Raises ValueError when the count differs from the parameter count."""
    def with_named_values(self, values: Mapping[str, SupportsFloat]) -> Circuit:
        """A new circuit with its values looked up by name (a dict keyed by
        `param_names()`). Every name must be present and no other key may
        be given; a misspelt key gets a "did you mean" suggestion."""
    def with_fixed(self, values: Mapping[str, SupportsFloat] | Sequence[str]) -> Circuit:
        """A new circuit whose named parameters every fit holds: a dict of
        names to values, or a list of names held at their current values.
        Fits vary only `free_params()`; a fixed parameter's stderr is None."""
    def with_bounds(self, bounds: Mapping[str, tuple[SupportsFloat, SupportsFloat] | None]) -> Circuit:
        """A new circuit with own `(lo, hi)` bounds for the named parameters,
        inside their default bounds; None restores the default bounds."""
    def free_params(self) -> list[str]:
        """Names of the parameters a fit varies, in `param_names()` order."""
    def with_ordered_arcs(self, ordered: bool = True) -> Circuit:
        """A new circuit whose interchangeable series members of the same
        shape come out of every fit and guess ordered by time constant,
        fastest first (`ordered=False` turns it off)."""
    def impedance(self, frequencies: _FrequenciesOrFrame) -> NDArray[np.complex128]:
        """Complex impedance (ohm) at each frequency (Hz), in input order, as a
        complex128 array; also takes a dataframe's frequency column."""
    def residuals(
        self,
        params: Sequence[SupportsFloat] | NDArray[Any],
        frequencies: _FrequenciesOrFrame,
        impedances: _Complexes | None = None,
        weight: str = "modulus",
    ) -> list[float]:
        """Weighted residual vector [re0, im0, re1, im1, ...] of model minus
        measurement at the parameter values `params`: divided by |Z| with
        `weight="modulus"`, in ohms with `weight="unit"`. The building block
        of `fit()`, for external optimisers such as
        `scipy.optimize.least_squares`."""
    def jacobian(
        self,
        params: Sequence[SupportsFloat] | NDArray[Any],
        frequencies: _FrequenciesOrFrame,
        impedances: _Complexes | None = None,
        weight: str = "modulus",
    ) -> list[list[float]]:
        """Central-difference Jacobian of `residuals()` at `params`: 2N rows
        (residuals), one column per parameter."""
    def fit(
        self,
        frequencies: _FrequenciesOrFrame,
        impedances: _Complexes | None = None,
        guess_init: bool | None = None,
        weights: str | None = None,
        weight: str = "modulus",
        method: str = "levenberg_marquardt",
        max_iterations: int = 200,
        ftol: float = 1e-8,
        xtol: float = 1e-8,
        num_particles: int = 200,
        generations: int = 1000,
        nelder_mead_iterations: int = 2000,
        de_evaluations: int = 20000,
        sa_iterations: int = 5000,
        sa_initial_temperature: float = 2.0,
        basin_hopping_hops: int = 20,
        basin_hopping_step_size: float = 1.0,
        basin_hopping_temperature: float = 1.0,
        seed: int | None = None,
    ) -> FitResult:
        """Fit this circuit's parameters to a measured spectrum.

        The spectrum is two sequences (frequencies in Hz, complex impedances in
        ohm) or one dataframe or dict with the battery data format columns
        (`impedances` left as None; rows at zero or negative frequency are
        dropped).

        Starting values: `guess_init=None` guesses them with the bundled
        network for this topology when the circuit has no explicit values (a
        circuit parsed from a string), and warns and starts from the
        placeholders when no network fits the topology; `True` always
        guesses and raises when it cannot; `False` never guesses. `weights`
        names a `.eisnn` weight file to guess with instead.

        `weight` is "modulus" (relative residuals, every point counts alike)
        or "unit" (absolute residuals in ohm).

        `method`: "levenberg_marquardt" (default; deterministic multi-start
        least squares, options `max_iterations`, `ftol`, `xtol`),
        "nelder_mead" (`nelder_mead_iterations`), "particle_swarm"
        (`num_particles`, `generations`, `seed`), "differential_evolution"
        (`de_evaluations`), "simulated_annealing" (`sa_iterations`,
        `sa_initial_temperature`, `seed`) or "basin_hopping"
        (`basin_hopping_hops`, `basin_hopping_step_size`,
        `basin_hopping_temperature`, `seed`). Every global method ends in a
        least-squares polish. `seed=None` seeds from the operating system.

        Raises ValueError for unusable input (mismatched lengths, no points,
        a circuit without parameters, an unknown method or weight, an integer
        option out of its range) and TypeError for complex frequencies (the
        frequencies come first). Points with a non-finite frequency or
        impedance are kept with the floor weight and NaN residuals, which
        make the cost NaN; one UserWarning names them."""
    def guess(
        self, frequencies: _FrequenciesOrFrame, impedances: _Complexes | None = None, weights: str | None = None
    ) -> list[float]:
        """Machine-learning guess of starting parameters for this circuit's
        topology, in `param_names()` order.

        Series and parallel elements may be written with any order and
        labels: `(R1,C2)-R3` uses the same model as `R0-(R1,C1)`. `K` and
        `Zarc` reach the models trained on the pairs they abbreviate.
        `weights` loads a `.eisnn` file from disk instead of looking for a
        bundled model. Raises ValueError if no model has been trained for this
        topology, if `weights` was trained for another one, or for fewer than
        two points; TypeError for complex frequencies. Points with a
        non-finite frequency or impedance are left out, with a UserWarning."""
    def fit_many(
        self,
        spectra: Sequence[tuple[_Floats, _Complexes] | _Frame] | _Frame,
        *,
        warm_start: bool = False,
        progress: bool = False,
        errors: str = "raise",
        by: str | Sequence[str] | None = None,
        workers: int | None = None,
        **options: Any,
    ) -> list[FitResult | BaseException]:
        """Fit this circuit to many spectra; the results come back in input order.

        `spectra` is a sequence of spectra in any form `fit()` takes:
        (frequencies, impedances) pairs, dataframes or dicts. One long pandas or
        polars dataframe may hold them all when `by` names the column(s) that
        tell them apart; its spectra come in order of first appearance, as
        `vorlane.group_keys()` lists them.

        `options` are the keyword options of `fit()`. With `warm_start=False`
        the fits run side by side on `workers` threads (None: every core) and
        each result is bit-identical to `fit()` called alone with the same
        options. `warm_start=True` fits in input order, each spectrum starting
        from the values fitted to the one before (a fresh fit replaces a warm
        one that is clearly worse).

        `errors="raise"` raises the error of the first spectrum that fails,
        with its index in the message and the original error as its cause;
        `errors="collect"` puts the exception in that spectrum's place and
        carries on. `progress=True` shows a progress bar on stderr (tqdm when
        installed). Ctrl-C stops the batch, the fits under way included.
        Spectra with points of a non-finite frequency or impedance get
        one UserWarning for the call; `workers` below 1 is a ValueError."""
    @staticmethod
    def ml_circuits() -> list[str]:
        """Model names accepted by the constructor that have a bundled
        network, and so get a guessed starting point from `fit()`: 'rc',
        'rc_l', 'rq', 'rq_l', 'two_rc', 'two_rc_l', 'two_rq', 'two_rq_l',
        'randles', 'sei_randles', 'sei_randles_wo'."""

@final
class FitResult:
    """The outcome of `Circuit.fit`; immutable. Pickles, so batches of results
    travel to other processes."""

    def __copy__(self) -> Self:
        """The object itself: it is immutable."""
    def __deepcopy__(self, memo: dict[int, Any], /) -> Self:
        """The object itself: it is immutable."""

    @property
    def circuit(self) -> Circuit:
        """The fitted circuit (explicit values, so fitting it again starts
        from them)."""
    @property
    def params(self) -> dict[str, float]:
        """Fitted value per parameter name."""
    @property
    def stderr(self) -> dict[str, float] | None:
        """Standard error per parameter name (from the Jacobian and the
        reduced chi-square), or None when it cannot be computed (no more
        residuals than parameters, or a parameter without influence)."""
    @property
    def success(self) -> bool:
        """Whether the method reports convergence."""
    @property
    def iterations(self) -> int:
        """The method's own iteration or evaluation count."""
    @property
    def impedance_evals(self) -> int:
        """Full-spectrum model evaluations made during the fit."""
    @property
    def cost(self) -> float:
        """Half the sum of squared weighted residuals at the fitted values."""
    @property
    def chi_square(self) -> float:
        """Sum of squared weighted residuals (twice `cost`)."""

@disjoint_base
class Element:
    """A single circuit element.

    These are Python subclasses taking its fields as arguments.
    They are combined with `Series()` and `Parallel()`."""

    def __copy__(self) -> Self:
        """The object itself: it is immutable."""
    def __deepcopy__(self, memo: dict[int, Any], /) -> Self:
        """The object itself: it is immutable."""

    @final
    class R(Element):
        """Resistor: Z = r. r in ohm."""

        __match_args__ = ("r",)
        def __new__(cls, r: SupportsFloat) -> Self: ...
        @property
        def r(self) -> float: ...

    @final
    class C(Element):
        """Capacitor: Z = 1/(jωc). c in F."""

        __match_args__ = ("c",)
        def __new__(cls, c: SupportsFloat) -> Self: ...
        @property
        def c(self) -> float: ...

    @final
    class L(Element):
        """Inductor: Z = jωl. l in H."""

        __match_args__ = ("l",)
        def __new__(cls, l: SupportsFloat) -> Self: ...  # noqa: E741
        @property
        def l(self) -> float: ...  # noqa: E743

    @final
    class La(Element):
        """Modified inductor: Z = (jωl)^alpha. l in H*s, alpha in (0, 1)."""

        __match_args__ = ("l", "alpha")
        def __new__(cls, l: SupportsFloat, alpha: SupportsFloat) -> Self: ...  # noqa: E741
        @property
        def l(self) -> float: ...  # noqa: E743
        @property
        def alpha(self) -> float: ...

    @final
    class Cpe(Element):
        """Constant-phase element: Z = 1/(q (jω)^alpha). q in ohm^-1*s^alpha,
        alpha in (0, 1)."""

        __match_args__ = ("q", "alpha")
        def __new__(cls, q: SupportsFloat, alpha: SupportsFloat) -> Self: ...
        @property
        def q(self) -> float: ...
        @property
        def alpha(self) -> float: ...

    @final
    class W(Element):
        """Semi-infinite Warburg: Z = aw (1 − j)/√ω. aw in ohm*s^-0.5."""

        __match_args__ = ("aw",)
        def __new__(cls, aw: SupportsFloat) -> Self: ...
        @property
        def aw(self) -> float: ...

    @final
    class Wo(Element):
        """Finite-space (open) Warburg: Z = z0 coth(√(jω tau))/√(jω tau).
        z0 in ohm, tau in s."""

        __match_args__ = ("z0", "tau")
        def __new__(cls, z0: SupportsFloat, tau: SupportsFloat) -> Self: ...
        @property
        def z0(self) -> float: ...
        @property
        def tau(self) -> float: ...

    @final
    class Ws(Element):
        """Finite-length (short) Warburg: Z = z0 tanh(√(jω tau))/√(jω tau).
        z0 in ohm, tau in s."""

        __match_args__ = ("z0", "tau")
        def __new__(cls, z0: SupportsFloat, tau: SupportsFloat) -> Self: ...
        @property
        def z0(self) -> float: ...
        @property
        def tau(self) -> float: ...

    @final
    class G(Element):
        """Gerischer: Z = rg/√(1 + jω tg). rg in ohm, tg in s."""

        __match_args__ = ("rg", "tg")
        def __new__(cls, rg: SupportsFloat, tg: SupportsFloat) -> Self: ...
        @property
        def rg(self) -> float: ...
        @property
        def tg(self) -> float: ...

    @final
    class Gs(Element):
        """Finite-length Gerischer: Z = rg/(√v tanh(phi √v)), v = 1 + jω tg.
        rg in ohm, tg in s, phi dimensionless."""

        __match_args__ = ("rg", "tg", "phi")
        def __new__(cls, rg: SupportsFloat, tg: SupportsFloat, phi: SupportsFloat) -> Self: ...
        @property
        def rg(self) -> float: ...
        @property
        def tg(self) -> float: ...
        @property
        def phi(self) -> float: ...

    @final
    class K(Element):
        """Voigt RC pair: Z = r/(1 + jω tau_k), an R parallel to a C of
        tau_k/r. r in ohm, tau_k in s."""

        __match_args__ = ("r", "tau_k")
        def __new__(cls, r: SupportsFloat, tau_k: SupportsFloat) -> Self: ...
        @property
        def r(self) -> float: ...
        @property
        def tau_k(self) -> float: ...

    @final
    class Zarc(Element):
        """ZARC (R parallel to a CPE): Z = r/(1 + (jω tau_k)^gamma). r in ohm,
        tau_k in s, gamma in (0, 1)."""

        __match_args__ = ("r", "tau_k", "gamma")
        def __new__(cls, r: SupportsFloat, tau_k: SupportsFloat, gamma: SupportsFloat) -> Self: ...
        @property
        def r(self) -> float: ...
        @property
        def tau_k(self) -> float: ...
        @property
        def gamma(self) -> float: ...

    @final
    class Tlmq(Element):
        """Transmission line with a CPE interface: Zs = 1/(qs (jω)^gamma),
        Z = √(r_ion Zs) coth(√(r_ion/Zs)). r_ion in ohm, qs in F*s^(gamma-1),
        gamma in (0, 1)."""

        __match_args__ = ("r_ion", "qs", "gamma")
        def __new__(cls, r_ion: SupportsFloat, qs: SupportsFloat, gamma: SupportsFloat) -> Self: ...
        @property
        def r_ion(self) -> float: ...
        @property
        def qs(self) -> float: ...
        @property
        def gamma(self) -> float: ...

    @final
    class T(Element):
        """Porous-electrode transmission line: β = √(k_tau + jω tau),
        Z = a coth(β)/β + b csch(β)/β. a and b in ohm*m^2, k_tau
        dimensionless, tau in s."""

        __match_args__ = ("a", "b", "k_tau", "tau")
        def __new__(cls, a: SupportsFloat, b: SupportsFloat, k_tau: SupportsFloat, tau: SupportsFloat) -> Self: ...
        @property
        def a(self) -> float: ...
        @property
        def b(self) -> float: ...
        @property
        def k_tau(self) -> float: ...
        @property
        def tau(self) -> float: ...

@final
class KramersKronigResult:
    """The outcome of `kramers_kronig`; immutable. Array attributes are fresh
    copies on every access."""

    @property
    def valid(self) -> bool:
        """Whether the spectrum, outliers left out, is linear, causal and
        stable within its noise: `systematic` at most `threshold`, at most
        one outlier in ten points."""
    @property
    def noise(self) -> float:
        """The residuals' standard deviation per part (per cent of |Z|),
        from the differences of neighbours along frequency, so that a
        smooth structure does not count as noise."""
    @property
    def systematic(self) -> float:
        """Root mean square of the part of the residuals that is smooth
        along frequency (per cent of |Z|): drift, a non-causal distortion."""
    @property
    def threshold(self) -> float:
        """The largest `systematic` of a valid spectrum (per cent of |Z|):
        three standard deviations of what noise alone leaves, and at least
        0.2 %."""
    @property
    def outliers(self) -> NDArray[np.bool_]:
        """One bool per point: True for the points left out of the final fit
        and of the verdict."""
    @property
    def m(self) -> int:
        """Number of RC elements of the chain."""
    @property
    def mu(self) -> float:
        """1 − Σ|negative R_k| / Σ positive R_k at this m (1 when no R_k is
        negative); values well below 1 mean the chain over-fits the noise."""
    @property
    def impedance(self) -> NDArray[np.complex128]:
        """The chain's impedance at the measured frequencies (ohm)."""
    @property
    def residuals_real(self) -> NDArray[np.float64]:
        """(Z − Z_fit).real / |Z| per point."""
    @property
    def residuals_imag(self) -> NDArray[np.float64]:
        """(Z − Z_fit).imag / |Z| per point."""
    @property
    def pseudo_chi_square(self) -> float:
        """Σ of the squared relative residuals (Boukamp's pseudo chi-square)."""
    @property
    def max_abs_residual(self) -> float:
        """The largest relative residual of either part, in magnitude."""
    @property
    def ohmic_resistance(self) -> float:
        """Fitted series resistance R_0 (ohm)."""
    @property
    def time_constants(self) -> NDArray[np.float64]:
        """The fixed time constants tau_k (s), ascending."""
    @property
    def resistances(self) -> NDArray[np.float64]:
        """Fitted R_k (ohm), one per time constant."""
    @property
    def capacitance(self) -> float | None:
        """Fitted series capacitance (F) when the chain has one, else None."""
    @property
    def inductance(self) -> float | None:
        """Fitted series inductance (H) when the chain has one, else None."""

def kramers_kronig(
    frequencies: _FrequenciesOrFrame,
    impedances: _Complexes | None = None,
    *,
    m: int | None = None,
    method: str = "noise",
    mu_cutoff: float = 0.85,
    part: str = "complex",
    capacitance: bool | None = None,
    inductance: bool | None = None,
    weight: str = "modulus",
) -> KramersKronigResult:
    """Linear Kramers-Kronig test of a measured spectrum (Schönleber et al.,
    Electrochim. Acta 131 (2014) 20), with a verdict: is it linear, causal
    and stable?

    Fits an ohmic resistance and m RC elements, whose time constants are
    spread evenly in log(tau) over the measured window (or one widened by a
    decade at each end), and a series C and L where the ends of the
    spectrum need them, by linear least squares; then judges the residuals.
    Takes the spectrum as `Circuit.fit` does.

    `method="noise"` chooses the series elements, the window and m
    together (the smallest m whose fit is as good as the noise allows),
    leaves outliers out of the final fit and judges the rest.
    `method="mu"` is the paper's plain test: m grows from 1 until mu falls
    below `mu_cutoff` at some m ≥ 2 (at most 100), over the measured
    window, with the series elements asked for and every point. A given
    `m` is used as is. `part` fits "complex" (both parts), "real" or
    "imaginary". `capacitance` and `inductance`: True adds a series C or L,
    False leaves it out, None lets the test decide. `weight` is "modulus"
    (1/|Z|) or "unit".

    Raises ValueError for non-finite or non-positive frequencies,
    frequencies or moduli outside 1e-100 to 1e100, non-finite or zero
    impedances, too few points for m, or an unknown option."""

def Series(parts: Sequence[Element | Circuit]) -> Circuit:
    """Connect elements and circuits end to end. Circuits are spliced in with
    their labels; elements get automatic labels ("R0", "Cpe0") in
    `param_names()`."""

def Parallel(parts: Sequence[Element | Circuit]) -> Circuit:
    """Connect elements and circuits as parallel branches, one branch per
    part."""

def _spectrum(
    frequencies: _FrequenciesOrFrame, impedances: _Complexes | None = None
) -> tuple[list[float], list[complex]]:
    """The measured spectrum as `Circuit.fit` reads it."""

def _from_modulus_and_phase(moduli: _Floats, phases: _Floats) -> list[complex]:
    """Impedances from their moduli (ohm) and phase angles (degrees)."""

def kernel_variant() -> str:
    """The instruction-set variant of the numeric kernels this process runs:
    "avx2" or "baseline" ("avx2" where the processor has it, unless
    VORLANE_KERNEL_VARIANT names another). Every variant gives the same
    bits."""

R = Element.R
C = Element.C
L = Element.L
La = Element.La
Cpe = Element.Cpe
W = Element.W
Wo = Element.Wo
Ws = Element.Ws
G = Element.G
Gs = Element.Gs
K = Element.K
Zarc = Element.Zarc
Tlmq = Element.Tlmq
T = Element.T
