"""The vorlane command on the bundled files: each command as users run it
(python -m vorlane), the error paths through its entry point."""

import json
import math
import subprocess
import sys
from unittest import mock

import numpy as np
import pytest

import vorlane
from conftest import DATA_DIR
from vorlane.cli import main

INSTRUMENTS = DATA_DIR / "instruments"
LI_ION = DATA_DIR / "li_ion_cell.csv"
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def run_command(*arguments):
    return subprocess.run(
        [sys.executable, "-m", "vorlane", *map(str, arguments)], capture_output=True, text=True, timeout=120
    )


def fields(text):
    """The "name  value" lines of a command's output as a dict."""
    return dict(line.split(None, 1) for line in text.splitlines() if line.strip())


def strict_json(path):
    """The file's JSON; NaN and Infinity, which are not JSON, fail."""
    return json.loads(path.read_text(), parse_constant=lambda name: pytest.fail(f"{name} in {path.name}"))


def test_help_lists_the_commands_and_the_exit_statuses():
    result = run_command("--help")
    assert result.returncode == 0
    for text in ("fit", "kk", "info", "exit status", "130  interrupted"):
        assert text in result.stdout


@pytest.mark.parametrize("file, format_name, points", [
    ("exampleData.csv", "csv", 66), ("exampleDataAutolab.txt", "autolab", 41),
    ("exampleDataBioLogic.mpt", "biologic", 43), ("exampleDataCHInstruments.txt", "csv", 73),
    ("exampleDataGamry.DTA", "gamry", 72), ("exampleDataParstat.txt", "csv", 31),
    ("exampleDataPowersuite.txt", "csv", 30), ("exampleDataVersaStudio.par", "versastudio", 61),
    ("exampleDataZPlot.z", "zplot", 21),
])
def test_info_on_each_instrument_file(file, format_name, points, capsys):
    assert main(["info", str(INSTRUMENTS / file)]) == 0
    shown = fields(capsys.readouterr().out)
    assert (shown["format"], shown["points"]) == (format_name, str(points))
    low, _, high, _ = shown["frequency"].replace(" to ", " ").split()
    assert 0 < float(low) < float(high)
    assert shown["columns"].startswith("Frequency / Hz, Real Impedance / ohm, Imaginary Impedance / ohm")


def test_info_reads_the_format_it_is_given():
    result = run_command("info", INSTRUMENTS / "exampleDataBioLogic.mpt", "--format", "biologic")
    assert result.returncode == 0
    assert "Voltage / V" in fields(result.stdout)["columns"]


def test_fit_prints_the_table_and_writes_json_and_plot(tmp_path):
    out_json, out_png = tmp_path / "fit.json", tmp_path / "fit.png"
    result = run_command("fit", INSTRUMENTS / "exampleDataGamry.DTA", "R0-(R1,CPE1)", "--json", out_json,
                         "--plot", out_png)
    assert result.returncode == 0, result.stderr
    record = strict_json(out_json)
    names = ["R0.r", "R1.r", "CPE1.q", "CPE1.alpha"]
    assert (record["circuit"], record["parameters"], record["format"]) == ("R0-(R1,CPE1)", names, "gamry")
    assert record["success"] is True and math.isclose(record["chi_square"], 2 * record["cost"])
    shown = fields(result.stdout)
    for name in names:
        value, error, unit = shown[name].split()
        assert float(value) == pytest.approx(record["values"][name], rel=1e-5)
        assert float(error) == pytest.approx(record["stderr"][name], rel=1e-5)
        assert unit == record["units"][name]
    assert shown["success"] == "true"
    assert out_png.read_bytes()[:8] == PNG_SIGNATURE


def test_a_fit_that_does_not_converge_exits_with_3(tmp_path):
    out_json = tmp_path / "fit.json"
    result = run_command("fit", DATA_DIR / "dummy_cell_a_1.csv", "La0", "--method", "nelder_mead", "--json", out_json)
    assert result.returncode == 3
    assert "vorlane: warning: There is no ML model" in result.stderr
    assert "vorlane: warning: the fit did not converge" in result.stderr
    record = strict_json(out_json)
    assert record["success"] is False
    assert record["stderr"] == {"La0.l": None, "La0.alpha": None}


def test_kk_prints_the_verdict_and_plots_it(tmp_path):
    out_png = tmp_path / "kk.png"
    result = run_command("kk", LI_ION, "--plot", out_png)
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith("KramersKronigResult(valid=True")
    assert "valid: noise 0.0" in result.stdout and "outliers at" not in result.stdout
    assert out_png.read_bytes()[:8] == PNG_SIGNATURE


def test_kk_of_an_invalid_spectrum_exits_with_4_and_names_its_outliers(tmp_path):
    f, z = vorlane.datasets.load_arrays("dummy_cell_a_1")
    z[20] *= 1.2  # one bad point
    z[-12:] *= np.linspace(1, 1.3, 12)  # and a drifting end
    path = tmp_path / "drifting.csv"
    np.savetxt(path, np.column_stack([f, z.real, z.imag]), delimiter=",",
               header="Frequency / Hz,Real Impedance / ohm,Imaginary Impedance / ohm", comments="")
    result = run_command("kk", path, "--no-capacitance", "--inductance")
    assert result.returncode == 4, result.stderr
    assert f"outliers at {f[20]:.6g}" in result.stdout
    assert "\nnot valid: noise" in result.stdout


@pytest.mark.parametrize("arguments, message", [
    (["info", "missing.csv"], "missing.csv: No such file or directory"),
    (["info", INSTRUMENTS / "README.md"], "line 1: expected a known spectrum file"),
    (["info", LI_ION, "--format", "gamry"], "expected a ZCURVE TABLE section"),
    (["fit", LI_ION, "R0-(R1,"], "unexpected end of input"),
    (["fit", LI_ION, "R0-(R1,C1)", "--method", "fastest"], 'unknown fit method "fastest"'),
    (["fit", LI_ION, "R0-(R1,C1)", "--seed", "-1"], "argument 'seed'"),
    (["fit", LI_ION, "R0-(R1,C1)", "--json", "no/such/folder/fit.json"], "No such file or directory"),
])
def test_unusable_input_exits_with_1_and_the_libraries_message(arguments, message, capsys):
    assert main([str(argument) for argument in arguments]) == 1
    first_line = capsys.readouterr().err.splitlines()[0]
    assert first_line.startswith("vorlane: error: ") and message in first_line


@pytest.mark.parametrize("arguments", [
    [], ["frobnicate"], ["fit", str(LI_ION)], ["info", str(LI_ION), "--format", "xls"],
])
def test_usage_errors_exit_with_2(arguments):
    with pytest.raises(SystemExit) as stop:
        main(arguments)
    assert stop.value.code == 2


@pytest.mark.parametrize("hidden, arguments, extra", [
    (["pandas"], ["info", str(LI_ION)], "vorlane[pandas]"),
    (["matplotlib", "matplotlib.pyplot"], ["kk", str(LI_ION), "--plot", "kk.png"], "vorlane[plot]"),
], ids=["pandas", "matplotlib"])
def test_a_missing_optional_dependency_names_the_extra(hidden, arguments, extra, monkeypatch, capsys, tmp_path):
    monkeypatch.chdir(tmp_path)
    monkeypatch.setenv("MPLBACKEND", "Agg")
    for module in hidden:
        monkeypatch.setitem(sys.modules, module, None)
    assert main(arguments) == 1
    assert extra in capsys.readouterr().err


def test_ctrl_c_exits_with_130_and_a_bug_keeps_its_traceback(monkeypatch, capsys):
    monkeypatch.setattr(vorlane, "read_spectrum", mock.Mock(side_effect=KeyboardInterrupt))
    assert main(["info", str(LI_ION)]) == 130
    assert capsys.readouterr().err == ""
    monkeypatch.setattr(vorlane, "read_spectrum", mock.Mock(side_effect=RuntimeError("a bug")))
    with pytest.raises(RuntimeError, match="a bug"):
        main(["info", str(LI_ION)])
