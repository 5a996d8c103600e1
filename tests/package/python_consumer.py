"""A user of the installed Python package: run with python3 -I (no user site, no
PYTHONPATH from the environment) and the prefix's package directory as the only
addition to the path.

    python_consumer.py PREFIX PACKAGE_DIRECTORY VEHICLE_XML
"""

import sys

prefix, package_directory, vehicle = sys.argv[1:4]
sys.path.insert(0, package_directory)

import zelvane  # noqa: E402

assert zelvane.__file__.startswith(package_directory), zelvane.__file__
with open("/proc/self/maps") as maps:
    core = {line.split()[-1] for line in maps if "libzelvane_core.so" in line}
assert core and all(path.startswith(prefix) for path in core), core

graph = zelvane.TransformManager.from_settings(vehicle)
sensor = graph.lookup("Sensor", "Body", time=0)
assert graph.frames == ["Sensor", "Body", "Global"], graph.frames
assert abs(sensor.position[0] - 1.8) < 1e-6, sensor
# The type stubs are installed with the module, and it pickles.
import os  # noqa: E402
import pickle  # noqa: E402

for stub in ("py.typed", "_zelvane.pyi"):
    assert os.path.isfile(os.path.join(os.path.dirname(zelvane.__file__), stub)), stub
assert pickle.loads(pickle.dumps(graph)).frames == graph.frames
print("python consumer: ok")
