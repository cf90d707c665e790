"""examples/dask_fit.py on a small study with a two-worker LocalCluster: the
Parquet table it writes holds exactly the fits of a serial loop."""

import runpy
import subprocess
import sys
import types
from pathlib import Path

import numpy as np
import pytest

pytest.importorskip("dask.distributed")
pd = pytest.importorskip("pandas")
pytest.importorskip("pyarrow")

import vorlane  # noqa: E402

EXAMPLE = Path(__file__).resolve().parents[2] / "examples" / "dask_fit.py"
SPECTRA, PARTITIONS, SEED = 60, 3, 11


def example_module():
    """The example script's functions, loaded without running its main."""
    return types.SimpleNamespace(**runpy.run_path(str(EXAMPLE), run_name="dask_fit"))


@pytest.mark.long_running
def test_the_dask_example_matches_serial_fits(tmp_path):
    output = tmp_path / "fits.parquet"
    run = subprocess.run(
        [sys.executable, str(EXAMPLE), "--spectra", str(SPECTRA), "--partitions", str(PARTITIONS),
         "--workers", "2", "--seed", str(SEED), "--output", str(output)],
        capture_output=True, text=True, timeout=240, cwd=tmp_path,
    )
    assert run.returncode == 0, run.stderr
    assert f"{SPECTRA} of {SPECTRA} fits succeeded" in run.stdout
    table = pd.read_parquet(output).sort_values("Spectrum", ignore_index=True)

    example = example_module()
    circuit = vorlane.Circuit(example.CIRCUIT)
    serial = []
    for partition in range(PARTITIONS):
        frame = example.study_partition(partition, SPECTRA // PARTITIONS, SPECTRA, SEED)
        serial += [circuit.fit(part) for _, part in frame.groupby("Spectrum", sort=True)]
    assert table["Spectrum"].tolist() == list(range(SPECTRA))
    for name in circuit.param_names():
        assert np.array_equal(table[name].to_numpy(), [r.params[name] for r in serial])
        assert np.array_equal(table[f"{name}_stderr"].to_numpy(), [r.stderr[name] for r in serial])
    assert np.array_equal(table["cost"].to_numpy(), [r.cost for r in serial])
    assert table["iterations"].tolist() == [r.iterations for r in serial]
    assert table["error"].isna().all()
