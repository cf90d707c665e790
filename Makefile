# Two entry points: `make quickstart` installs vorlane and runs the example;
# `make test` installs what the tests need and runs every test.
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
PIP = $(PYTHON) -m pip
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
TEST_DEPS = numpy scipy scipy-stubs pandas-stubs pytest hypothesis pandas polars pyarrow tqdm "dask[distributed,dataframe]" \
  matplotlib mypy "pyright[nodejs]" torch==2.13.0

.PHONY: install quickstart test test-cpp test-python bench system-packages

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
	$(PIP) install --quiet $(BUILD_TOOLS) numpy
	$(PIP) install --quiet --no-build-isolation -C build-dir=$(BUILD_DIR) \
	  -C cmake.define.VORLANE_BUILD_TESTS=$(CPP_TESTS) .

quickstart: install
	$(PIP) install --quiet matplotlib
	$(PYTHON) examples/quickstart.py

# The module and the C++ tests come out of the same build.
test-cpp: CPP_TESTS = ON
test-cpp: install
	$(BUILD_DIR)/vorlane_cpp_tests --gtest_brief=1

test-python: install
	$(PIP) install --quiet $(TEST_DEPS)
	cd tests/python && $(PYTHON) -m pytest -q

test: CPP_TESTS = ON
test: test-cpp test-python

bench: install
	$(PIP) install --quiet scipy
	$(PYTHON) bench/impedance.py
	$(PYTHON) bench/fit.py
	$(PYTHON) bench/guess.py
	$(PYTHON) bench/global.py
	$(PYTHON) bench/batch.py
	$(PYTHON) bench/any_circuit.py --quick
