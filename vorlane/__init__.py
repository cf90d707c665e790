# The package around the compiled core: the core's classes under their own
# names, in the order the core registers them. Pure-Python helpers (file
# readers, plots, result tables) live in submodules and import their optional
# dependencies only when called, so importing vorlane stays cheap.
from vorlane._core import *  # noqa: F401,F403

__doc__ = ""
__version__ = "0.1.0"
