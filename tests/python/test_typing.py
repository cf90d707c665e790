"""The installed package's type stubs match the compiled module, and the
examples type-check with them under mypy --strict and pyright."""

import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
EXAMPLE_FOLDER = ROOT / "examples"
EXAMPLES = sorted(path.name for path in EXAMPLE_FOLDER.glob("*.py"))

pytestmark = pytest.mark.long_running


def run(arguments, cwd):
    result = subprocess.run(
        [sys.executable, "-m", *arguments], cwd=cwd, capture_output=True, text=True, timeout=300
    )
    assert result.returncode == 0, result.stdout + result.stderr
    return result.stdout


# The stubs are checked against the compiled module; the pure-Python modules
# are their own stubs, the file readers' internals are not public API, and the
# optional dependencies need not be installed: their types are not followed,
# not even where they come as stubs (pandas' and scipy's stub packages alone
# were three quarters of the check's time). Matplotlib's are followed: the
# plots take their axes type from them.
STUBTEST_CONFIG = """
[mypy]
ignore_missing_imports = True
follow_imports_for_stubs = True
[mypy-vorlane.readers.*]
ignore_errors = True
[mypy-pandas.*,polars.*,pyarrow.*,dask.*,distributed.*,tqdm.*,scipy.*]
follow_imports = skip
"""


def test_stubs_match_the_runtime_module(tmp_path):
    config = tmp_path / "mypy.ini"
    config.write_text(STUBTEST_CONFIG)
    # From a scratch folder, so the installed package is checked, not the source tree.
    run(["mypy.stubtest", "vorlane", "--mypy-config-file", str(config)], tmp_path)


# The examples take their types from vorlane, numpy, pandas, matplotlib and
# scipy. The rest of what those pull in (PyTorch and Jinja through dask's
# and distributed's optional parts, polars, Pillow) is not followed, stubs
# included: that was two thirds of the check's time and none of its findings.
EXAMPLES_CONFIG = """
[mypy]
strict = True
follow_imports_for_stubs = True
[mypy-dask.*,distributed.*,torch.*,polars.*,hypothesis.*,PIL.*,jinja2.*]
follow_imports = skip
"""


def test_examples_pass_mypy_strict(tmp_path):
    config = tmp_path / "mypy.ini"
    config.write_text(EXAMPLES_CONFIG)
    arguments = ["mypy", "--config-file", str(config), "--cache-dir", str(tmp_path / "cache"), *EXAMPLES]
    out = run(arguments, EXAMPLE_FOLDER)
    assert f"no issues found in {len(EXAMPLES)} source files" in out


def test_examples_pass_pyright():
    # The examples import their helper module from their own folder.
    out = run(["pyright", "--pythonpath", sys.executable, *EXAMPLES], EXAMPLE_FOLDER)
    assert "0 errors" in out
