PYTHON ?= python3
VENV ?= .venv
PY := $(VENV)/bin/python

.PHONY: install demo test bench clean

$(PY):
	$(PYTHON) -m venv $(VENV)
	$(PY) -m pip install --upgrade pip

# Extra pip flags; CI passes -Ccmake.define.HIDDEN_WERROR=ON so a compiler warning fails the build.
PIP_FLAGS ?=

install: $(PY)
	$(PY) -m pip install $(PIP_FLAGS) ".[test]"

demo: install
	$(PY) -m orvane_ex.demo --unattended

test: install
	$(PY) -m pytest -q

bench: install
	$(PY) bench/bench.py

clean:
	rm -rf build $(VENV)
