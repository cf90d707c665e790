# Two entry points: `make quickstart` installs vorlane and runs the example;
# `make test` installs what the tests need and runs every test.
# `make test-asan` runs the C++ tests under AddressSanitizer and
# UndefinedBehaviorSanitizer; `make fuzz FUZZ_SECONDS=...` runs each fuzzer
# (parser, weight reader, spectrum input) for that long.
#
# PYTHON is the interpreter vorlane is installed into. Left unset, it is
# python3 itself inside a virtual environment or a conda environment, and
# otherwise a .venv in this repository, made on first use: a system Python
# (Debian's and Ubuntu's are "externally managed") is never installed into.
# Missing system pieces (the venv module, the Python headers, a C++
# compiler, GoogleTest) are installed with apt-get where there is one.
ifeq ($(origin PYTHON), undefined)
  IN_ENVIRONMENT := $(shell python3 -c 'import os, sys; print(sys.prefix != sys.base_prefix or os.path.isdir(os.path.join(sys.prefix, "conda-meta")))' 2>/dev/null)
  ifeq ($(IN_ENVIRONMENT),True)
    PYTHON := python3
  else
    PYTHON := $(CURDIR)/.venv/bin/python
    ENVIRONMENT := $(PYTHON)
  endif
endif
# Where PYTHONDONTWRITEBYTECODE is set, every Python process would compile
# each module it imports from source again (pip's, pandas', PyTorch's: about
# a quarter of the Python tests' processor time). The bytecode is written to
# build/pycache instead, so that nothing lands beside the sources and the
# test processes share it.
ifneq ($(PYTHONDONTWRITEBYTECODE),)
  export PYTHONDONTWRITEBYTECODE :=
  export PYTHONPYCACHEPREFIX := $(CURDIR)/build/pycache
endif
PIP = $(PYTHON) -m pip
# Packages come with pip itself, so that whatever pip is configured with
# (certificates, proxies, indexes, wheel folders, constraints) applies.
INSTALL_PACKAGES = $(PIP) install --quiet
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
APT_GET = $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get
# `$(APT_INSTALL) PACKAGE...`: fails at once where there is no apt-get.
APT_INSTALL = sh -c 'command -v apt-get >/dev/null && $(APT_GET) update -qq && \
  $(APT_GET) install -y -qq --no-install-recommends "$$@" >/dev/null' apt-install

# One CMake build tree for the module and the C++ tests, so that `make test`
# compiles each source file once; pip reuses it through scikit-build-core.
BUILD_DIR = build/dev
CPP_TESTS ?= OFF
BUILD_TOOLS = scikit-build-core cmake ninja
TEST_DEPS = numpy scipy scipy-stubs pandas-stubs pytest pytest-xdist hypothesis pandas polars pyarrow tqdm "dask[distributed,dataframe]" \
  matplotlib mypy "pyright[nodejs]" torch==2.13.0

# The sanitized C++ tests and the fuzzers share one build (clang 16,
# AddressSanitizer, UndefinedBehaviorSanitizer and the fuzzers' coverage), so
# that CI compiles the core once for both.
SANITIZE = -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer
SANITIZER_OPTIONS = ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1
SANITIZED_CXX = clang++-16
# clang 16 compiles libstdc++'s <expected> but does not announce the
# concepts level the header asks for.
SANITIZED_CXXFLAGS = -O1 -gline-tables-only $(SANITIZE) -fsanitize=fuzzer-no-link \
  -U__cpp_concepts -D__cpp_concepts=202002L -Wno-builtin-macro-redefined
# The build tools pip installs, found first (a .venv is not on PATH).
WITH_TOOLS = PATH="$(shell $(PYTHON) -c 'import sysconfig; print(sysconfig.get_path("scripts"))'):$$PATH"
FUZZ_SECONDS ?= 600
FUZZERS = parser weight_reader

.PHONY: install quickstart test test-cpp test-python test-asan sanitized-build fuzz bench system-packages

$(CURDIR)/.venv/bin/python:
	@echo "python3 is not in a virtual or conda environment: installing into .venv"
	@python3 -m venv .venv 2>/dev/null || { rm -rf .venv && $(APT_INSTALL) python3-venv && python3 -m venv .venv; }

# The Python headers and a C++ compiler for the build.
system-packages: $(ENVIRONMENT)
	@$(PYTHON) -c 'import os, sysconfig; raise SystemExit(not os.path.exists(os.path.join(sysconfig.get_paths()["include"], "Python.h")))' \
	  || $(APT_INSTALL) python3-dev
	@command -v c++ >/dev/null || $(APT_INSTALL) g++
	@[ "$(CPP_TESTS)" != ON ] || dpkg -s libgtest-dev >/dev/null 2>&1 || ! command -v apt-get >/dev/null \
	  || $(APT_INSTALL) libgtest-dev

install: system-packages
	$(INSTALL_PACKAGES) $(BUILD_TOOLS) numpy
	$(PIP) install --quiet --no-build-isolation --config-settings=build-dir=$(BUILD_DIR) \
	  --config-settings=cmake.define.VORLANE_BUILD_TESTS=$(CPP_TESTS) .

# What the README's tour needs: matplotlib for the pictures, pandas for files.
quickstart: install
	$(INSTALL_PACKAGES) matplotlib pandas
	$(PYTHON) examples/quickstart.py

# The module and the C++ tests come out of the same build. The tests run
# once per kernel variant (a variant the processor lacks runs as the widest
# it has).
KERNEL_VARIANTS = avx2 baseline
test-cpp: CPP_TESTS = ON
test-cpp: install
	for variant in $(KERNEL_VARIANTS); do \
	  VORLANE_KERNEL_VARIANT=$$variant $(BUILD_DIR)/vorlane_cpp_tests --gtest_brief=1 || exit 1; \
	done

test-python: install
	$(INSTALL_PACKAGES) $(TEST_DEPS)
	cd tests/python && $(PYTHON) -m pytest -q -n auto

test: CPP_TESTS = ON
test: test-cpp test-python

sanitized-build: CPP_TESTS = ON
sanitized-build: system-packages
	@command -v $(SANITIZED_CXX) >/dev/null || $(APT_INSTALL) clang-16 libclang-rt-16-dev
	$(INSTALL_PACKAGES) $(BUILD_TOOLS)
	$(WITH_TOOLS) cmake -S . -B build/sanitized -G Ninja -DVORLANE_PYTHON=OFF -DVORLANE_BUILD_TESTS=ON \
	  -DVORLANE_BUILD_FUZZERS=ON -DCMAKE_BUILD_TYPE=None -DCMAKE_CXX_COMPILER=$(SANITIZED_CXX) \
	  "-DCMAKE_CXX_FLAGS=$(SANITIZED_CXXFLAGS)" >/dev/null

test-asan: sanitized-build
	$(WITH_TOOLS) cmake --build build/sanitized --target vorlane_cpp_tests
	for variant in $(KERNEL_VARIANTS); do \
	  VORLANE_KERNEL_VARIANT=$$variant $(SANITIZER_OPTIONS) build/sanitized/vorlane_cpp_tests --gtest_brief=1 || exit 1; \
	done

# New inputs go to build/fuzz/corpus; the committed seeds stay as they are.
fuzz: sanitized-build install
	$(WITH_TOOLS) cmake --build build/sanitized --target $(FUZZERS:=_fuzz)
	$(INSTALL_PACKAGES) atheris
	for target in $(FUZZERS); do \
	  mkdir -p build/fuzz/corpus/$$target && \
	  $(SANITIZER_OPTIONS) build/sanitized/$${target}_fuzz -max_total_time=$(FUZZ_SECONDS) -timeout=10 \
	    -rss_limit_mb=4096 -print_final_stats=1 build/fuzz/corpus/$$target tests/fuzz/corpus/$$target || exit 1; \
	done
	mkdir -p build/fuzz/corpus/measured_input
	$(PYTHON) tests/fuzz/measured_input_fuzz.py -max_total_time=$(FUZZ_SECONDS) -timeout=10 \
	  -rss_limit_mb=4096 -print_final_stats=1 build/fuzz/corpus/measured_input tests/fuzz/corpus/measured_input
	mkdir -p build/fuzz/corpus/reader && $(INSTALL_PACKAGES) pandas
	$(PYTHON) tests/fuzz/reader_fuzz.py -max_total_time=$(FUZZ_SECONDS) -timeout=10 \
	  -rss_limit_mb=4096 -print_final_stats=1 build/fuzz/corpus/reader tests/fuzz/corpus/reader

bench: install
	$(INSTALL_PACKAGES) scipy impedance pyimpspec
	$(PYTHON) bench/impedance.py
	$(PYTHON) bench/fit.py
	$(PYTHON) bench/guess.py
	$(PYTHON) bench/global.py
	$(PYTHON) bench/batch.py
	$(PYTHON) bench/any_circuit.py --quick
	$(PYTHON) bench/kramers_kronig.py --quick
	$(PYTHON) bench/peers.py
	$(PYTHON) bench/readers.py
