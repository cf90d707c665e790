"""vorlane.datasets: every bundled spectrum is catalogued and loads as its
record says, as a frame and as arrays alike, from any folder; instrument files
read to the measurement they share with a converted spectrum; an unknown name
is refused with the valid ones."""

import os
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import vorlane
from vorlane import datasets

pytest.importorskip("pandas")

NAMES = datasets.names()
BDF = ["Frequency / Hz", "Real Impedance / ohm", "Imaginary Impedance / ohm"]


def run_python(code, cwd):
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], cwd=cwd, capture_output=True,
                            text=True, timeout=120, env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)})
    assert result.returncode == 0, result.stderr
    return result.stdout


def test_every_bundled_file_is_catalogued():
    data = datasets.path(NAMES[0]).parent
    files = {path for path in data.rglob("*") if path.is_file() and path.name != "README.md"}
    assert files == {datasets.path(name) for name in NAMES}
    assert datasets.names(instrument_files=False) == [n for n in NAMES if datasets.info(n).instrument is None]


@pytest.mark.parametrize("name", NAMES)
def test_dataset_loads_as_its_record_says(name):
    record = datasets.info(name)
    frame = datasets.load(name)
    f, z = datasets.load_arrays(name)
    assert record.name == name and record.path.is_file()
    assert list(frame.columns[:3]) == BDF
    assert frame.attrs["source"] == str(record.path)
    assert len(frame) == len(f) == len(z) == record.points
    assert (f.min(), f.max()) == (record.min_frequency, record.max_frequency)
    assert f.dtype == np.float64 and z.dtype == np.complex128
    np.testing.assert_array_equal(f, frame[BDF[0]].to_numpy())
    np.testing.assert_array_equal(z, frame[BDF[1]].to_numpy() + 1j * frame[BDF[2]].to_numpy())
    assert frame.equals(vorlane.read_spectrum(datasets.path(name)))
    assert name in datasets.describe()


@pytest.mark.parametrize("name", [n for n in NAMES if datasets.info(n).same_measurement_as])
def test_datasets_of_the_same_measurement_agree(name):
    other = datasets.info(name).same_measurement_as
    assert datasets.info(other).same_measurement_as == name
    (f, z), (f_other, z_other) = datasets.load_arrays(name), datasets.load_arrays(other)
    shared = min(len(f), len(f_other))
    np.testing.assert_array_equal(f[:shared], f_other[:shared])
    np.testing.assert_array_equal(z[:shared], z_other[:shared])


@pytest.mark.parametrize("call", [datasets.load, datasets.load_arrays, datasets.path, datasets.info])
@pytest.mark.parametrize("name, suggestion", [("li_ion", "li_ion_cell"), ("Instrument_Gamry", "instrument_gamry"),
                                              ("xyz", None)])
def test_unknown_names_are_refused_with_the_valid_ones(call, name, suggestion):
    with pytest.raises(ValueError, match=f'^unknown dataset "{name}"') as error:
        call(name)
    message = str(error.value)
    assert ("did you mean" in message) == (suggestion is not None)
    assert suggestion is None or f'(did you mean "{suggestion}"?)' in message
    assert message.endswith("the datasets are: " + ", ".join(NAMES))
    with pytest.raises(TypeError, match="a dataset name is a str, got int"):
        call(3)


def test_loads_from_another_folder_and_converted_spectra_need_no_pandas(tmp_path):
    out = run_python(
        """
        import sys
        sys.modules["pandas"] = None             # pandas cannot be imported
        import vorlane
        f, z = vorlane.datasets.load_arrays("li_ion_cell")
        print(len(f), z.dtype)
        try:
            vorlane.datasets.load_arrays("instrument_gamry")
        except ImportError as error:
            print(error)
        """,
        tmp_path,
    )
    assert out.splitlines() == [
        "66 complex128",
        "load_arrays('instrument_gamry') reads the file with vorlane.read_spectrum, which needs pandas: "
        'pip install "vorlane[pandas]"',
    ]
