"""Equivalent-circuit analysis of electrochemical impedance spectra."""

from vorlane import plot as plot
from vorlane._core import C as C
from vorlane._core import G as G
from vorlane._core import Gs as Gs
from vorlane._core import K as K
from vorlane._core import L as L
from vorlane._core import La as La
from vorlane._core import R as R
from vorlane._core import T as T
from vorlane._core import W as W
from vorlane._core import Wo as Wo
from vorlane._core import Ws as Ws
from vorlane._core import Circuit as Circuit
from vorlane._core import Cpe as Cpe
from vorlane._core import Element as Element
from vorlane._core import FitResult as FitResult
from vorlane._core import Parallel as Parallel
from vorlane._core import Series as Series
from vorlane._core import Tlmq as Tlmq
from vorlane._core import Zarc as Zarc

__version__: str
