# `make demo`, `make test` and `make bench` install whatever is missing, then build.
VENV    ?= .venv
PY      := $(VENV)/bin/python
CMAKE   := $(VENV)/bin/cmake
BUILD   ?= build
JOBS    ?= $(shell nproc)
FUZZ_SECONDS ?= 60

# The clang build's module sits in a package directory of its own, beside a copy of the
# package's Python files, so that its tests import it and not the gcc one in python/.
CLANG_PACKAGE := $(abspath $(BUILD))/clang/package

.PHONY: all deps build build-asan build-fuzz build-clang demo test test-cpp test-asan test-py test-fuzz test-clang bench clean

all: build

deps:
	VENV=$(VENV) scripts/install-deps.sh

build: deps
	mkdir -p $(BUILD) && $(CMAKE) -S . -B $(BUILD)/release -G Ninja -DVARDELIN_WERROR=ON -DCMAKE_BUILD_TYPE=Release \
	    -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV))/bin/ninja \
	    -DPython_EXECUTABLE=$(abspath $(PY)) > $(BUILD)/configure.log 2>&1 || (cat $(BUILD)/configure.log; exit 1)
	$(CMAKE) --build $(BUILD)/release -j $(JOBS)
	$(PY) scripts/link-package.py

build-asan: deps
	mkdir -p $(BUILD) && $(CMAKE) -S . -B $(BUILD)/asan -G Ninja -DVARDELIN_WERROR=ON -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS=-O1 \
	    -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV))/bin/ninja \
	    -DVARDELIN_PYTHON=OFF -DVARDELIN_SANITIZE=ON > $(BUILD)/configure-asan.log 2>&1 || (cat $(BUILD)/configure-asan.log; exit 1)
	$(CMAKE) --build $(BUILD)/asan -j $(JOBS)

build-fuzz: deps
	mkdir -p $(BUILD) && $(CMAKE) -S . -B $(BUILD)/fuzz -G Ninja -DVARDELIN_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV))/bin/ninja \
	    -DVARDELIN_PYTHON=OFF -DVARDELIN_TESTS=OFF -DVARDELIN_FUZZ=ON > $(BUILD)/configure-fuzz.log 2>&1 || (cat $(BUILD)/configure-fuzz.log; exit 1)
	$(CMAKE) --build $(BUILD)/fuzz -j $(JOBS)

build-clang: deps
	mkdir -p $(CLANG_PACKAGE)/vardelin && cp python/vardelin/*.py python/vardelin/py.typed $(CLANG_PACKAGE)/vardelin/
	$(CMAKE) -S . -B $(BUILD)/clang -G Ninja -DVARDELIN_WERROR=ON -DCMAKE_BUILD_TYPE=Release \
	    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV))/bin/ninja \
	    -DPython_EXECUTABLE=$(abspath $(PY)) -DVARDELIN_TESTS=OFF \
	    -DVARDELIN_PACKAGE_DIR=$(CLANG_PACKAGE)/vardelin > $(BUILD)/configure-clang.log 2>&1 || (cat $(BUILD)/configure-clang.log; exit 1)
	$(CMAKE) --build $(BUILD)/clang -j $(JOBS)

demo: build
	$(PY) examples/quickstart.py

test-cpp: build
	$(BUILD)/release/vardelin_cpp_tests --gtest_brief=1

test-asan: build-asan
	ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 $(BUILD)/asan/vardelin_cpp_tests --gtest_brief=1

test-fuzz: build-fuzz
	@set -e; for f in $(BUILD)/fuzz/fuzz_*; do \
	    [ -x "$$f" ] || continue; \
	    corpus=tests/fuzz/corpus/$$(basename $$f); mkdir -p $(BUILD)/fuzz/work-$$(basename $$f); \
	    echo "fuzzing $$(basename $$f) for $(FUZZ_SECONDS)s"; \
	    $$f -max_total_time=$(FUZZ_SECONDS) -print_final_stats=0 $(BUILD)/fuzz/work-$$(basename $$f) $$( [ -d $$corpus ] && echo $$corpus ) 2>&1 | tail -n 3; \
	done

test-py: build
	$(PY) -m pytest -q tests

# The whole Python suite against the module clang built; the check first makes sure the tests
# import that one and not the gcc build's.
test-clang: build-clang
	PYTHONPATH=$(CLANG_PACKAGE) $(PY) -c 'import sys, vardelin; sys.exit(not vardelin.__file__.startswith("$(CLANG_PACKAGE)/"))' \
	    || (echo "test-clang: vardelin does not come from $(CLANG_PACKAGE)"; exit 1)
	PYTHONPATH=$(CLANG_PACKAGE) $(PY) -m pytest -q tests

test: test-cpp test-asan test-fuzz test-py test-clang

bench: build
	@for f in $$(ls bench/*.py | grep -v common.py); do echo "== $$f"; $(PY) $$f || exit 1; done

clean:
	rm -rf $(BUILD) python/vardelin/_core*.so
