# Two entry points: `make quickstart` installs vorlane and runs the example;
# `make test` installs what the tests need and runs every test.
# `make test-asan` runs the C++ tests under AddressSanitizer and
# UndefinedBehaviorSanitizer; `make fuzz FUZZ_SECONDS=...` runs each fuzzer
# (parser, weight reader, spectrum input) for that long.
PYTHON ?= python3
PIP = $(PYTHON) -m pip
BUILD_TOOLS = scikit-build-core cmake ninja
TEST_DEPS = numpy scipy pytest hypothesis pandas polars pyarrow tqdm "dask[distributed,dataframe]"

# The C++ tests and the fuzzers share one build (clang 16, AddressSanitizer,
# UndefinedBehaviorSanitizer and the fuzzers' coverage), so that CI compiles
# the core once for both.
SANITIZE = -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer
SANITIZER_OPTIONS = ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1
SANITIZED_CXX = clang++-16
# clang 16 compiles libstdc++'s <expected> but does not announce the
# concepts level the header asks for.
SANITIZED_CXXFLAGS = -O1 -gline-tables-only $(SANITIZE) -fsanitize=fuzzer-no-link \
  -U__cpp_concepts -D__cpp_concepts=202002L -Wno-builtin-macro-redefined
FUZZ_SECONDS ?= 600
FUZZERS = parser weight_reader

.PHONY: install quickstart test test-cpp test-python test-asan sanitized-build fuzz bench gtest

install:
	$(PIP) install --quiet $(BUILD_TOOLS) numpy
	$(PIP) install --quiet --no-build-isolation .

quickstart: install
	$(PYTHON) examples/quickstart.py

gtest:
	command -v apt-get >/dev/null && (dpkg -s libgtest-dev >/dev/null 2>&1 || \
	  (apt-get update -qq && apt-get install -y -qq libgtest-dev >/dev/null))

test-cpp: gtest
	cmake -S . -B build/cpp -G Ninja -DVORLANE_PYTHON=OFF -DVORLANE_BUILD_TESTS=ON >/dev/null
	cmake --build build/cpp
	build/cpp/vorlane_cpp_tests --gtest_brief=1

test-python: install
	$(PIP) install --quiet $(TEST_DEPS)
	cd tests/python && $(PYTHON) -m pytest -q

test: test-cpp test-python

sanitized-build: gtest
	command -v $(SANITIZED_CXX) >/dev/null || (apt-get update -qq && \
	  apt-get install -y -qq clang-16 libclang-rt-16-dev >/dev/null)
	cmake -S . -B build/sanitized -G Ninja -DVORLANE_PYTHON=OFF -DVORLANE_BUILD_TESTS=ON -DVORLANE_BUILD_FUZZERS=ON \
	  -DCMAKE_BUILD_TYPE=None -DCMAKE_CXX_COMPILER=$(SANITIZED_CXX) "-DCMAKE_CXX_FLAGS=$(SANITIZED_CXXFLAGS)" >/dev/null

test-asan: sanitized-build
	cmake --build build/sanitized --target vorlane_cpp_tests
	$(SANITIZER_OPTIONS) build/sanitized/vorlane_cpp_tests --gtest_brief=1

# New inputs go to build/fuzz/corpus; the committed seeds stay as they are.
fuzz: sanitized-build install
	cmake --build build/sanitized --target $(FUZZERS:=_fuzz)
	$(PIP) install --quiet atheris
	for target in $(FUZZERS); do \
	  mkdir -p build/fuzz/corpus/$$target && \
	  $(SANITIZER_OPTIONS) build/sanitized/$${target}_fuzz -max_total_time=$(FUZZ_SECONDS) -timeout=10 \
	    -rss_limit_mb=4096 -print_final_stats=1 build/fuzz/corpus/$$target tests/fuzz/corpus/$$target || exit 1; \
	done
	mkdir -p build/fuzz/corpus/spectrum_input
	$(PYTHON) tests/fuzz/spectrum_input_fuzz.py -max_total_time=$(FUZZ_SECONDS) -timeout=10 \
	  -rss_limit_mb=4096 -print_final_stats=1 build/fuzz/corpus/spectrum_input tests/fuzz/corpus/spectrum_input

bench: install
	$(PIP) install --quiet scipy
	$(PYTHON) bench/impedance.py
	$(PYTHON) bench/fit.py
	$(PYTHON) bench/guess.py
	$(PYTHON) bench/global.py
	$(PYTHON) bench/batch.py
