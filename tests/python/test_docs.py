"""Every Python block of the README and of docs/ runs, in order, one namespace per
document, from an empty scratch folder: the spectra come from vorlane.datasets,
not from the source tree. The pictures the blocks write (into a temporary
folder, or where a block names) are real PNG files; links to local files
resolve."""

import re
import tempfile
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
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


@pytest.mark.parametrize("path", DOCUMENTS, ids=lambda path: path.relative_to(ROOT).as_posix())
def test_python_blocks_run(path, tmp_path, monkeypatch):
    text = path.read_text(encoding="utf-8")
    found = PYTHON_BLOCK.findall(text)
    # A Python block the pattern misses would silently go untested.
    assert len(found) == text.count("```python")
    folder, temporary = tmp_path / "cwd", tmp_path / "tmp"
    folder.mkdir()
    temporary.mkdir()
    monkeypatch.chdir(folder)
    monkeypatch.setattr(tempfile, "tempdir", str(temporary))
    namespace = {"__name__": "__doc_test__"}
    blocks = [code for marker, code in found if not marker]
    try:
        for number, code in enumerate(blocks, start=1):
            exec(compile(code, f"{path.name}, python block {number}", "exec"), namespace)
    finally:
        plt.close("all")
    for picture in [*folder.rglob("*.png"), *temporary.rglob("*.png")]:
        assert picture.read_bytes()[:8] == PNG_SIGNATURE, picture


@pytest.mark.parametrize("path", DOCUMENTS, ids=lambda path: path.relative_to(ROOT).as_posix())
def test_local_links_resolve(path):
    for target in LOCAL_LINK.findall(path.read_text(encoding="utf-8")):
        assert (path.parent / target).exists(), f"{path.name} links to missing {target}"
