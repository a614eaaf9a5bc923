"""Prints the project's dependencies and test extras, one per line, from pyproject.toml."""
import pathlib
import tomllib

project = tomllib.loads((pathlib.Path(__file__).parents[1] / "pyproject.toml").read_text())["project"]
print("\n".join(project["dependencies"] + project["optional-dependencies"]["test"]))
