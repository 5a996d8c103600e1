"""The type stubs of the extension module: installed beside it, valid Python, and
naming exactly the public names of the compiled module and of each of its classes."""

import ast
import inspect
import pathlib

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
