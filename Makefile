PYTHON ?= python3
VENV ?= .venv
PY := $(VENV)/bin/python

.PHONY: install demo test bench clean

# Extra pip flags; CI passes -Ccmake.define.HIDDEN_WERROR=ON so a compiler warning fails the build.
PIP_FLAGS ?=

# The environment: the build tools and every dependency, installed once and
# again only when pyproject.toml changes.
$(VENV)/.deps: pyproject.toml
	test -x $(PY) || $(PYTHON) -m venv $(VENV)
	$(PY) -m pip install -q --upgrade pip
	$(PY) -m pip install -q "scikit-build-core>=0.10" "pybind11>=2.13" cmake ninja
	$(PY) -c 'import tomllib; p = tomllib.load(open("pyproject.toml", "rb"))["project"]; \
	          print("\n".join(p["dependencies"] + p["optional-dependencies"]["test"]))' > $(VENV)/requirements.txt
	$(PY) -m pip install -q -r $(VENV)/requirements.txt
	touch $@

# The package, installed in editable mode without build isolation: the CMake
# build folder (build/) is kept between runs, so an unchanged tree installs
# nothing and a changed .cpp recompiles that file only. Python files are used
# from src/ directly.
NATIVE_SOURCES := CMakeLists.txt $(shell find src -name '*.cpp' -o -name '*.hpp' 2>/dev/null)
$(VENV)/.installed: $(VENV)/.deps $(NATIVE_SOURCES)
	$(PY) -m pip install -q --no-build-isolation --no-deps $(PIP_FLAGS) -e .
	touch $@

install: $(VENV)/.installed

demo: install
	$(PY) -m orvane_ex.demo --unattended

test: install
	$(PY) -m pytest -q

bench: install
	$(PY) bench/bench.py

clean:
	rm -rf build $(VENV)
