"""A warning at import when VORLANE_KERNEL_VARIANT names a kernel variant
this process does not run: a misspelt name, or one the processor lacks,
would otherwise leave a comparison of variants comparing nothing."""

import os
import warnings

from vorlane._core import kernel_variant

VARIANTS = ("avx2", "baseline")


def warn_if_not_running_the_requested_variant() -> None:
    requested = os.environ.get("VORLANE_KERNEL_VARIANT")
    running = kernel_variant()
    if requested is None or requested == running:
        return
    if requested in VARIANTS:
        reason = "not supported by this processor"
    else:
        reason = "not a kernel variant (" + " or ".join(map(repr, VARIANTS)) + ")"
    warnings.warn(f"VORLANE_KERNEL_VARIANT={requested!r} is {reason}: running {running!r}", UserWarning,
                  stacklevel=3)
