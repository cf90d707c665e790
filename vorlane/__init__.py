# The package around the compiled core: the core's classes under their own
# names, in the order the core registers them, then the pure-Python helpers.
# Those live in submodules and import their optional dependencies only when
# called, so importing vorlane stays cheap.
from vorlane._core import *  # noqa: F401,F403
from vorlane._results_table import results_table  # noqa: F401
from vorlane._spectrum_groups import group_keys  # noqa: F401

__doc__ = ""
__version__ = "0.1.0"
