"""The named tuples that the package returns: pairs of boxes, the association of a
frame, the tracks of a tracker, edges of the frame graph, and the results of lookups at many times. All unpack like
plain tuples. Also the sparse-matrix form of pairs of boxes."""

from collections import namedtuple

import numpy as np

FootprintPairs = namedtuple("FootprintPairs", ["first", "second", "value"])
FootprintPairs.__doc__ = """Pairs of boxes from two sets, as returned by ``overlap_pairs``,
``generalized_overlap_pairs``, ``overlap_3d_pairs``, ``distance_pairs``,
``centroid_distance_pairs`` and ``centroid_distance_3d_pairs``: one entry
per pair in each of the three arrays.

Attributes
----------
first : numpy.ndarray of numpy.intp
    Indices into the first set.
second : numpy.ndarray of numpy.intp
    Indices into the second set.
value : numpy.ndarray of float64
    The overlap or the distance of each pair.
"""

Association = namedtuple(
    "Association", ["track", "detection", "value", "unmatched_tracks", "unmatched_detections"])
Association.__doc__ = """The association of a tracker frame, as returned by ``associate``.

Attributes
----------
track, detection : numpy.ndarray of numpy.intp
    The matched pairs, one entry each, ordered by track.
value : numpy.ndarray of float64
    The overlap or the distance of each match.
unmatched_tracks, unmatched_detections : numpy.ndarray of numpy.intp
    The tracks and the detections left unmatched, in increasing order.
"""


TrackedBoxes = namedtuple("TrackedBoxes", ["ids", "boxes", "scores", "classes", "detections",
                                           "velocities", "image_boxes", "confirmed"])
TrackedBoxes.__doc__ = """The tracks a ``Tracker`` reports, by id, as returned by ``Tracker.step``
and ``Tracker.tracks``: one row per track in each array.

Attributes
----------
ids : numpy.ndarray of int64
    Unique within the tracker, never reused.
boxes : numpy.ndarray of float32, shape (N, 7)
    The tracks' boxes at their estimates: centre (x, y, z), heading, length, width,
    height.
scores : numpy.ndarray of float32
    The score of the detection that updated the track in this frame, or of its last
    one for a coasting track.
classes : numpy.ndarray of numpy.intp
    The class of each track, an index into the tracker's classes.
detections : numpy.ndarray of numpy.intp
    The index of the frame's box that updated each track; -1 for a track that coasts.
velocities : numpy.ndarray of float32, shape (N, 3)
image_boxes : numpy.ndarray of float64, shape (N, 4)
    The image rectangle of each track's last detection (left, top, right, bottom).
confirmed : numpy.ndarray of bool
    Tracks confirmed; the others are tentative.
"""


def sparse_pairs(pairs, shape):
    """``pairs`` (ordered by ``first``, then ``second``) as a ``scipy.sparse.csr_matrix``
    of ``shape``, each value at row ``first``, column ``second``, zeros kept."""
    try:
        from scipy import sparse
    except ImportError as error:
        raise ImportError("sparse=True needs SciPy (scipy.sparse), which is not installed") \
            from error
    first, second, value = pairs
    # The pairs come ordered by row and column: the row pointers are the running counts.
    indptr = np.zeros(shape[0] + 1, dtype=np.intp)
    np.cumsum(np.bincount(first, minlength=shape[0]), out=indptr[1:])
    return sparse.csr_matrix((value, second, indptr), shape=shape)

FrameEdge = namedtuple("FrameEdge",
                       ["from_frame", "to_frame", "is_static", "samples", "oldest", "newest"])
FrameEdge.__doc__ = """One pair of directly joined frames, as listed by
``TransformManager.edges``.

Attributes
----------
from_frame, to_frame : str
    The frame described and the frame it is given in, as first registered between
    the two.
is_static : bool
    A single static entry (registered with time 0), which answers every time.
samples : int
    Samples held (each direction holds as many).
oldest, newest : int
    Registration times of the oldest and the newest sample; 0 for a static pair.
"""


class _Codes:
    """The ``ok`` mask of a result that carries a ``TransformResult`` code per row."""

    __slots__ = ()

    @property
    def ok(self):
        return self.codes == 0


class PoseArrays(_Codes,
                 namedtuple("PoseArrays", ["positions", "quaternions", "timestamps", "codes"])):
    """The poses of one pair of frames at many times, as returned by
    ``TransformManager.lookup_many``: one row per time in each array.

    Attributes
    ----------
    positions : numpy.ndarray of float32, shape (T, 3)
    quaternions : numpy.ndarray of float32, shape (T, 4)
        (x, y, z, w).
    timestamps : numpy.ndarray of int64, shape (T,)
    codes : numpy.ndarray of int8, shape (T,)
        The ``TransformResult`` of each lookup; a failed one has the identity pose.
    ok : numpy.ndarray of bool, shape (T,)
        True where the lookup succeeded.
    """

    __slots__ = ()


class MatrixArrays(_Codes, namedtuple("MatrixArrays", ["matrices", "codes"])):
    """The transforms of one pair of frames at many times, as returned by
    ``TransformManager.lookup_many_matrices``.

    Attributes
    ----------
    matrices : numpy.ndarray of float32, shape (T, 4, 4)
        The identity where the lookup failed.
    codes : numpy.ndarray of int8, shape (T,)
        The ``TransformResult`` of each lookup.
    ok : numpy.ndarray of bool, shape (T,)
        True where the lookup succeeded.
    """

    __slots__ = ()


class PlacedPoints(_Codes, namedtuple("PlacedPoints", ["points", "codes"])):
    """Points placed each at its own time, as returned by
    ``TransformManager.transform_points`` with an array of times.

    Attributes
    ----------
    points : numpy.ndarray of float32, shape (N, 3)
        NaN where the lookup failed.
    codes : numpy.ndarray of int8, shape (N,)
        The ``TransformResult`` of each point's lookup.
    ok : numpy.ndarray of bool, shape (N,)
        True where the point was placed.
    """

    __slots__ = ()
