"""The same input gives the same bits on every x86-64 processor: whichever
kernel variant runs, and whichever path the C library's mathematics takes
(glibc picks fused multiply-add code on processors that have it)."""

import json
import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

import vorlane

CORPUS = Path(__file__).resolve().parents[1] / "determinism" / "corpus.py"

# glibc's mathematics without its AVX2 and FMA code, as on a processor
# without them (older glibc releases spell the features with "_Usable").
BASELINE_MATH = "glibc.cpu.hwcaps=-AVX2_Usable,-FMA_Usable,-AVX2,-FMA,-FMA4"


def run_corpus(**environment):
    env = {**os.environ, **environment}
    completed = subprocess.run([sys.executable, str(CORPUS), "--json"], env=env, capture_output=True, text=True,
                               check=True)
    return json.loads(completed.stdout.splitlines()[-1])


def test_the_corpus_hashes_equal_across_kernel_variants_and_math_paths():
    native = run_corpus()
    baseline = run_corpus(VORLANE_KERNEL_VARIANT="baseline")
    baseline_math = run_corpus(VORLANE_KERNEL_VARIANT="baseline", GLIBC_TUNABLES=BASELINE_MATH)
    assert baseline["kernel_variant"] == baseline_math["kernel_variant"] == "baseline"
    assert native["hashes"] == baseline["hashes"]
    assert native["hashes"] == baseline_math["hashes"]


# Instructions whose results differ from the separate operations they stand
# for: fused multiply-adds round once instead of twice, and the approximate
# reciprocals and exponentials differ between processor generations. The
# compiler may emit them on its own (its vectoriser fuses complex products
# for AVX-512 even with contraction off), so the built module is checked.
ROUNDS_DIFFERENTLY = re.compile(r"\s(v?fn?m(add|sub)\w*|vfm(addsub|subadd)\w*|v?rcp\w*|v?rsqrt\w*|vexp2\w*)\s")


def test_the_compiled_core_has_no_instruction_that_rounds_differently():
    listing = subprocess.run(["objdump", "-d", "--no-show-raw-insn", vorlane._core.__file__], capture_output=True,
                             text=True, check=True).stdout
    assert not ROUNDS_DIFFERENTLY.findall(listing)


@pytest.mark.parametrize("requested, expected_warning", [
    ("baseline", None),
    ("avx512", "VORLANE_KERNEL_VARIANT"),
    ("fast", "VORLANE_KERNEL_VARIANT"),
])
def test_the_variable_picks_a_variant_or_says_why_it_cannot(requested, expected_warning):
    code = "import warnings; warnings.simplefilter('always'); import vorlane; print(vorlane.kernel_variant())"
    completed = subprocess.run([sys.executable, "-c", code], env={**os.environ, "VORLANE_KERNEL_VARIANT": requested},
                               capture_output=True, text=True, check=True)
    if expected_warning is None:
        assert completed.stdout.strip() == requested and not completed.stderr
    else:
        assert expected_warning in completed.stderr and repr(requested) in completed.stderr


def test_a_modulus_and_phase_file_reads_to_the_bits_a_fit_gets_from_those_columns(tmp_path):
    # Both conversions use the core's sine and cosine; the C library's would
    # give other bits on processors with other code paths.
    moduli = [1.0, 2.5, 1e3, 7.25e-3, 42.0]
    phases = [-90.0, -45.0, -0.001, 12.5, -179.9]
    path = tmp_path / "polar.txt"
    path.write_text("Frequency (Hz)\t|Z| (Ohm)\tPhase (deg)\n"
                    + "".join(f"{k + 1}\t{m!r}\t{p!r}\n" for k, (m, p) in enumerate(zip(moduli, phases))))
    frame = vorlane.read_spectrum(path)
    _, from_columns = vorlane._core._spectrum({"Frequency / Hz": [1.0] * 5, "Absolute Impedance / ohm": moduli,
                                               "Phase / deg": phases})
    assert list(frame["Real Impedance / ohm"]) == [z.real for z in from_columns]
    assert list(frame["Imaginary Impedance / ohm"]) == [z.imag for z in from_columns]
