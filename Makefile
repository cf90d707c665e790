# Two entry points: `make quickstart` installs vorlane and runs the example;
# `make test` installs what the tests need and runs every test.
PYTHON ?= python3
PIP = $(PYTHON) -m pip
BUILD_TOOLS = scikit-build-core cmake ninja
TEST_DEPS = numpy scipy pytest hypothesis pandas polars pyarrow tqdm "dask[distributed,dataframe]"

.PHONY: install quickstart test test-cpp test-python bench

install:
	$(PIP) install --quiet $(BUILD_TOOLS) numpy
	$(PIP) install --quiet --no-build-isolation .

quickstart: install
	$(PYTHON) examples/quickstart.py

test-cpp:
	command -v apt-get >/dev/null && (dpkg -s libgtest-dev >/dev/null 2>&1 || \
	  (apt-get update -qq && apt-get install -y -qq libgtest-dev >/dev/null))
	cmake -S . -B build/cpp -G Ninja -DVORLANE_PYTHON=OFF -DVORLANE_BUILD_TESTS=ON >/dev/null
	cmake --build build/cpp
	build/cpp/vorlane_cpp_tests --gtest_brief=1

test-python: install
	$(PIP) install --quiet $(TEST_DEPS)
	cd tests/python && $(PYTHON) -m pytest -q

test: test-cpp test-python

bench: install
	$(PIP) install --quiet scipy
	$(PYTHON) bench/impedance.py
	$(PYTHON) bench/fit.py
	$(PYTHON) bench/guess.py
	$(PYTHON) bench/global.py
	$(PYTHON) bench/batch.py
