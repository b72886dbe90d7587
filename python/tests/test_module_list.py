"""spike_bins offers a function for every module of the module list
(build_scripts/modules.txt), under the module's name less a trailing "_mex"
(trainfold_mex -> trainfold), whose leading parameters are the module's
arguments in order; and every function it offers is a module of the list."""
import importlib.util
import inspect
from pathlib import Path

import pytest

import spike_bins

ROOT = Path(__file__).resolve().parents[2]


def _module_rows():
    found = importlib.util.spec_from_file_location(
        "module_list", ROOT / "build_scripts" / "module_list.py")
    module_list = importlib.util.module_from_spec(found)
    found.loader.exec_module(module_list)
    return [fields for _, fields in
            module_list.read_module_list(ROOT / "build_scripts" / "modules.txt")]


ROWS = _module_rows()


def python_name(module):
    return module[:-len("_mex")] if module.endswith("_mex") else module


@pytest.mark.parametrize("fields", ROWS, ids=[f[0] for f in ROWS])
def test_every_module_has_its_function(fields):
    module, arguments = fields[0], fields[3].split(",")
    name = python_name(module)
    assert name in spike_bins.__all__, f"{module}: no spike_bins.{name}"
    function = getattr(spike_bins, name)
    assert callable(function)
    parameters = list(inspect.signature(function).parameters)
    assert parameters[:len(arguments)] == arguments, (
        f"spike_bins.{name}{tuple(parameters)} does not start with "
        f"{module}'s arguments {tuple(arguments)}")


def test_every_function_is_a_module():
    modules = {python_name(fields[0]) for fields in ROWS}
    functions = {name for name in spike_bins.__all__
                 if callable(getattr(spike_bins, name))}
    assert functions == modules
