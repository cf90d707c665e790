"""The cache of weight files named by `weights=`: an accepted file is read
once per path, a rejected one leaves neither an entry nor memory behind."""

import shutil
import subprocess
import sys
import textwrap
from pathlib import Path

import numpy as np
import pytest

import vorlane

MODELS = Path(__file__).resolve().parents[2] / "models"
FREQS = np.logspace(-1, 5, 40)
Z_RQ = vorlane.Circuit("R0-(R1,CPE1)").with_values([10.0, 100.0, 1e-4, 0.8]).impedance(FREQS)


def test_a_rejected_file_is_read_again_and_an_accepted_one_only_once(tmp_path):
    path = tmp_path / "model.eisnn"
    shutil.copy(MODELS / "rc.eisnn", path)
    with pytest.raises(ValueError, match="which is a different circuit"):
        vorlane.Circuit("R0-(R1,CPE1)").guess(FREQS, Z_RQ, weights=str(path))
    shutil.copy(MODELS / "rq.eisnn", path)
    accepted = vorlane.Circuit("R0-(R1,CPE1)").guess(FREQS, Z_RQ, weights=str(path))
    path.write_bytes(b"no longer a weight file")
    assert vorlane.Circuit("R0-(R1,CPE1)").guess(FREQS, Z_RQ, weights=str(path)) == accepted
    with pytest.raises(ValueError, match="which is a different circuit"):
        vorlane.Circuit("R0-(R1,C1)").guess(FREQS, Z_RQ, weights=str(path))


REJECTIONS = textwrap.dedent("""
    import os, sys
    import numpy as np
    import vorlane

    directory, source, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
    circuit = vorlane.Circuit("R0-(R1,CPE1)-(R2,CPE2)")
    freqs = np.logspace(-1, 5, 40)
    z = circuit.with_values([10.0, 100.0, 1e-4, 0.8, 50.0, 1e-2, 0.7]).impedance(freqs)

    def resident_bytes():
        with open("/proc/self/statm") as handle:
            return int(handle.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")

    def reject(i):
        path = os.path.join(directory, "m%d.eisnn" % i)
        os.symlink(source, path)
        try:
            circuit.guess(freqs, z, weights=path)
        except ValueError as error:
            assert "which is a different circuit" in str(error)
        else:
            raise AssertionError("accepted")

    for i in range(50):
        reject(i)
    before = resident_bytes()
    for i in range(50, 50 + count):
        reject(i)
    print(resident_bytes() - before)
""")


def test_a_thousand_rejected_files_keep_no_memory(tmp_path):
    out = subprocess.run([sys.executable, "-c", REJECTIONS, str(tmp_path), str(MODELS / "rc.eisnn"), "1000"],
                         capture_output=True, text=True, timeout=120, check=True).stdout
    assert int(out) < 2 * 1024 * 1024
