"""The README's tour runs as written, from the examples folder it names."""

import os
import re
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]


def test_tour_runs_as_written():
    readme = (ROOT / "README.md").read_text(encoding="utf-8")
    tour = readme[readme.index("## A short tour"):]
    code = re.search(r"```python\n(.*?)```", tour, re.S).group(1)
    assert code.splitlines()[2].startswith("df = vorlane.read_spectrum(")
    result = subprocess.run([sys.executable, "-c", code], cwd=ROOT / "examples", capture_output=True, text=True,
                            timeout=300, env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)})
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith("KramersKronigResult(m=")
