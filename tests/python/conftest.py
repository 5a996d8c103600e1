"""Shared fixtures of the Python tests: the C++ reference program, the example files
and zelvane_frames. ctest runs them with the build tree's package on PYTHONPATH."""

import os
import pathlib
import subprocess

import numpy as np
import pytest

import zelvane

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLES = ROOT / "examples"

# The tests must exercise the package they were built with, not an installed one.
if os.environ.get("ZELVANE_PYTHON_BUILD_PATH"):
    assert zelvane.__file__.startswith(os.environ["ZELVANE_PYTHON_BUILD_PATH"]), zelvane.__file__


def program(variable):
    path = os.environ.get(variable)
    if not path:
        pytest.skip("%s is not set (ctest sets it)" % variable)
    return path


def f32(values):
    """Text of float32 values that reads back exactly."""
    return " ".join("%.9g" % v for v in np.asarray(values, dtype=np.float32).ravel())


class Reference:
    """The C++ library's answers, one request a line (see reference.cpp)."""

    def __init__(self, path):
        self.process = subprocess.Popen([path], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        text=True, bufsize=1)

    def text(self, request, until=None):
        self.process.stdin.write(request + "\n")
        self.process.stdin.flush()
        if until is None:
            line = self.process.stdout.readline()
            assert line, "the reference program stopped"
            return line.rstrip("\n")
        lines = []
        while not lines or lines[-1] != until + "\n":
            lines.append(self.process.stdout.readline())
            assert lines[-1], "the reference program stopped"
        return "".join(lines[:-1])

    def floats(self, request):
        return np.array(self.text(request).split(), dtype=np.float64)

    def close(self):
        self.process.stdin.close()
        self.process.wait(timeout=10)


@pytest.fixture(scope="session")
def reference():
    ref = Reference(program("ZELVANE_PY_REFERENCE"))
    yield ref
    ref.close()


@pytest.fixture(scope="session")
def frames_app():
    """Runs zelvane_frames on the example vehicle and drive with extra arguments."""
    path = program("ZELVANE_FRAMES")

    def run(*arguments, check=True):
        result = subprocess.run([path, "-c", str(EXAMPLES / "vehicle.xml"), *arguments],
                                capture_output=True, text=True, cwd=ROOT)
        if check:
            assert result.returncode == 0, result.stderr
        return result

    return run


@pytest.fixture
def drive():
    """The example vehicle (vehicle.xml) driving its example route (navigation.csv)."""
    graph = zelvane.TransformManager.from_settings(EXAMPLES / "vehicle.xml")
    graph.read_pose_csv(EXAMPLES / "navigation.csv")
    return graph
