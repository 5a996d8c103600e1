"""Reading the suite's pose files into a frame graph.

A pose file is CSV with the header line ``time,from,to,x,y,z,qx,qy,qz,qw``: per line
an integer time, the frame described, the frame it is given in, the position and
the orientation quaternion (x, y, z, w). ``zelvane_frames --poses`` reads the same
files with the same checks.
"""

import re

import numpy as np

from .errors import FrameGraphError

HEADER = "time,from,to,x,y,z,qx,qy,qz,qw"

_INTEGER = re.compile(r"[+-]?[0-9]+\Z")
_DECIMAL = re.compile(r"[+-]?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?\Z")
_INT64 = (-2**63, 2**63 - 1)


def _trim(text):
    return text.strip(" \t\r")


def _time(field):
    text = _trim(field)
    if not _INTEGER.match(text) or not _INT64[0] <= int(text) <= _INT64[1]:
        return None
    return int(text)


def _number(field):
    """A whole field as a finite float32, or None (empty, trailing text, inf, nan)."""
    text = _trim(field)
    if not _DECIMAL.match(text):
        return None
    with np.errstate(over="ignore"):
        value = np.float32(float(text))
    return value if np.isfinite(value) else None


def read_pose_csv(self, path):
    """Registers every time-stamped pose of a pose file.

    Each line registers the pose of ``from`` in ``to`` at ``time`` (0 for a static
    transform), its quaternion normalised, in file order. Blank lines are skipped.

    Parameters
    ----------
    path : str or os.PathLike
        A CSV file with the header line ``time,from,to,x,y,z,qx,qy,qz,qw``.

    Returns
    -------
    int
        The number of poses registered.

    Raises
    ------
    ValueError
        At the first bad line, with its file name and line number ("file:line:
        reason"): a wrong header, a field count other than 10, a time that is not an
        integer, an empty frame name, a frame given in itself, a number that is not a
        finite decimal, a quaternion far from unit length (norm outside 0.5 to 1.5), or
        a pose between two frames already joined through others. The poses of the
        lines before it stay registered.
    OSError
        The file cannot be opened.
    """
    from ._zelvane import Pose

    count = 0
    with open(path, encoding="utf-8", newline="\n") as lines:
        number = 0

        def fail(reason):
            return ValueError("%s:%d: %s" % (path, number, reason))

        header = lines.readline()
        number = 1
        if not header:
            raise fail("missing header line " + HEADER)
        if ",".join(_trim(field) for field in header.rstrip("\n").split(",")) != HEADER:
            raise fail("expected the header line " + HEADER)
        for number, line in enumerate(lines, start=2):
            line = line.rstrip("\n")
            if not _trim(line):
                continue
            fields = line.split(",")
            if len(fields) != 10:
                raise fail("expected 10 fields, found %d" % len(fields))
            time = _time(fields[0])
            if time is None:
                raise fail("time '%s' is not an integer" % _trim(fields[0]))
            from_frame, to_frame = _trim(fields[1]), _trim(fields[2])
            if not from_frame or not to_frame:
                raise fail("empty frame name")
            if from_frame == to_frame:
                raise fail("a frame cannot be given in itself ('%s')" % from_frame)
            values = []
            for index, field in enumerate(fields[3:], start=4):
                value = _number(field)
                if value is None:
                    raise fail("field %d '%s' is not a finite number" % (index, _trim(field)))
                values.append(value)
            pose = Pose(values[:3], values[3:])
            norm = np.linalg.norm(pose.orientation)
            if not 0.5 < norm < 1.5:
                raise fail("quaternion is far from unit length")
            try:
                self.set_transform(from_frame, to_frame, pose.normalized(), time)
            except FrameGraphError:
                raise fail("%s and %s are already joined through other frames"
                           % (from_frame, to_frame)) from None
            count += 1
    return count
