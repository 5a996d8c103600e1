"""The type stubs of the extension module: installed beside it, valid Python, and
naming exactly the public names of the compiled module and of each of its classes."""

import ast
import inspect
import pathlib

import pytest

import zelvane
from zelvane import _zelvane

STUBS = pathlib.Path(_zelvane.__file__).with_name("_zelvane.pyi")


def stub_names(body, prefix=""):
    """Public names defined in a stub body, classes' members as "Class.member"."""
    names = set()
    for node in body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
            name = node.name
        elif isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
            name = node.target.id
        else:
            continue
        if name.startswith("_"):
            continue
        names.add(prefix + name)
        if isinstance(node, ast.ClassDef):
            names |= stub_names(node.body, prefix + name + ".")
    return names


def runtime_names(namespace, prefix=""):
    """Public names of the module, and of each class it defines (its own members, not
    inherited ones), as the package exposes them after ``import zelvane``."""
    names = set()
    for name, value in vars(namespace).items():
        if name.startswith("_"):
            continue
        names.add(prefix + name)
        if inspect.isclass(value) and value.__module__.startswith("zelvane"):
            names |= runtime_names(value, prefix + name + ".")
    return names


def test_stubs_are_installed_beside_the_module_and_parse():
    assert (STUBS.parent / "py.typed").is_file()
    assert STUBS.parent == pathlib.Path(zelvane.__file__).parent
    compile(STUBS.read_text(), str(STUBS), "exec", flags=ast.PyCF_ONLY_AST)


def test_stubs_name_every_public_name_and_no_other():
    stubbed = stub_names(ast.parse(STUBS.read_text()).body)
    compiled = runtime_names(_zelvane)
    assert not compiled - stubbed, "public names without a stub: %s" % sorted(compiled - stubbed)
    assert not stubbed - compiled, "stubs of names that do not exist: %s" % sorted(
        stubbed - compiled)


# Typical use, checked by mypy against the stubs: every annotated line must pass, and
# each line marked "wrong" must be reported, which a result typed Any (or a Union that
# needs a cast) would not give.
TYPED_USE = '''\
import numpy as np
import numpy.typing as npt
import zelvane

graph = zelvane.TransformManager()
boxes = np.zeros((1, 7))
at_one_time: npt.NDArray[np.float32] = graph.transform_points(boxes[:, :3], "a", "b", time=5)
each_at_its_time = graph.transform_points(boxes[:, :3], "a", "b", time=np.array([5]))
placed: npt.NDArray[np.float32] = each_at_its_time.points[each_at_its_time.ok]
frame = zelvane.associate(boxes, boxes, metric="overlap", threshold=0.1)
tracks: npt.NDArray[np.intp] = frame.track
values: npt.NDArray[np.float64] = frame.value
left: npt.NDArray[np.intp] = frame.unmatched_detections
pairs = zelvane.overlap_pairs(boxes, boxes)
first: npt.NDArray[np.intp] = pairs.first
samples: int = graph.edges[0].samples
codes: npt.NDArray[np.int8] = graph.lookup_many("a", "b", np.array([5])).codes
name: str = frame.track  # wrong
count: str = graph.edges[0].samples  # wrong
'''


def test_results_are_typed_for_mypy(tmp_path, monkeypatch):
    try:
        from mypy import api
    except ImportError:
        pytest.fail("mypy is not installed (scripts/install-deps installs python3-mypy)")
    (tmp_path / "use.py").write_text(TYPED_USE)
    # The package under test, not an installed one.
    monkeypatch.setenv("MYPYPATH", str(pathlib.Path(zelvane.__file__).parents[1]))
    report, errors, status = api.run([
        "--strict", "--follow-imports=silent", "--no-incremental",
        "--cache-dir", str(tmp_path / "cache"), str(tmp_path / "use.py")])
    assert errors == ""
    reported = sorted(int(line.split(":")[1]) for line in report.splitlines()
                      if ": error:" in line)
    wrong = [number for number, line in enumerate(TYPED_USE.splitlines(), 1)
             if line.endswith("# wrong")]
    assert reported == wrong, report
    assert status == 1
