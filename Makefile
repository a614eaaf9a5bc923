PYTHON ?= python3
VENV ?= .venv
PY := $(VENV)/bin/python

.PHONY: install test bench clean

$(PY):
	$(PYTHON) -m venv $(VENV)
	$(PY) -m pip install --upgrade pip

install: $(PY)
	$(PY) -m pip install ".[test]"

test: install
	$(PY) -m pytest -q

bench: install
	$(PY) bench/bench.py

clean:
	rm -rf build $(VENV)
