"""Every Python block of the README and of docs/ runs, in order, one namespace per
document, from a scratch folder that sees the bundled spectra both as
examples/data (the guide runs from the source tree) and as data (the README's
tour runs from examples/); links to local files resolve."""

import re
from pathlib import Path

import matplotlib
import pytest

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]
DOCUMENTS = [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]
# A block meant as a fragment is marked with "<!-- not run -->" on the line before it.
PYTHON_BLOCK = re.compile(r"^(<!-- not run -->\n)?```python\n(.*?)^```", re.MULTILINE | re.DOTALL)
LOCAL_LINK = re.compile(r"\]\((?!https?:)([^)#\s]+)")


def python_blocks(path):
    return [code for marker, code in PYTHON_BLOCK.findall(path.read_text(encoding="utf-8")) if not marker]


@pytest.mark.parametrize("path", DOCUMENTS, ids=lambda path: path.relative_to(ROOT).as_posix())
def test_python_blocks_run(path, tmp_path, monkeypatch):
    (tmp_path / "examples").symlink_to(ROOT / "examples")
    (tmp_path / "data").symlink_to(ROOT / "examples" / "data")
    monkeypatch.chdir(tmp_path)
    namespace = {"__name__": "__doc_test__"}
    blocks = python_blocks(path)
    try:
        for number, code in enumerate(blocks, start=1):
            exec(compile(code, f"{path.name}, python block {number}", "exec"), namespace)
    finally:
        plt.close("all")
    # Every page but the guide's table of contents shows runnable code, and the
    # figures it writes are real PNG files.
    assert blocks or path == ROOT / "docs" / "README.md"
    for png in tmp_path.glob("*.png"):
        assert png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


@pytest.mark.parametrize("path", DOCUMENTS, ids=lambda path: path.relative_to(ROOT).as_posix())
def test_local_links_resolve(path):
    for target in LOCAL_LINK.findall(path.read_text(encoding="utf-8")):
        assert (path.parent / target).exists(), f"{path.name} links to missing {target}"
