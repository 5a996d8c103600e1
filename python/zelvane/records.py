"""The named tuples that the package returns: pairs of boxes, the association of a
frame, the tracks of a tracker, edges of the frame graph, and the results of lookups at many times. All unpack like
plain tuples, and their fields are typed for type checkers. Also the sparse-matrix form of
pairs of boxes."""

from typing import Any, NamedTuple

import numpy as np
import numpy.typing as npt

_Indices = npt.NDArray[np.intp]
_Values = npt.NDArray[np.float64]
_Codes8 = npt.NDArray[np.int8]


class FootprintPairs(NamedTuple):
    """Pairs of boxes from two sets, as returned by ``overlap_pairs``,
    ``generalized_overlap_pairs``, ``overlap_3d_pairs``, ``distance_pairs``,
    ``centroid_distance_pairs`` and ``centroid_distance_3d_pairs``: one entry per pair in
    each of the three arrays.

    Attributes
    ----------
    first : numpy.ndarray of numpy.intp
        Indices into the first set.
    second : numpy.ndarray of numpy.intp
        Indices into the second set.
    value : numpy.ndarray of float64
        The overlap or the distance of each pair.
    """

    first: _Indices
    second: _Indices
    value: _Values


class Association(NamedTuple):
    """The association of a tracker frame, as returned by ``associate``.

    Attributes
    ----------
    track, detection : numpy.ndarray of numpy.intp
        The matched pairs, one entry each, ordered by track.
    value : numpy.ndarray of float64
        The overlap or the distance of each match.
    unmatched_tracks, unmatched_detections : numpy.ndarray of numpy.intp
        The tracks and the detections left unmatched, in increasing order.
    """

    track: _Indices
    detection: _Indices
    value: _Values
    unmatched_tracks: _Indices
    unmatched_detections: _Indices


class TrackedBoxes(NamedTuple):
    """The tracks a ``Tracker`` reports, by id, as returned by ``Tracker.step`` and
    ``Tracker.tracks``: one row per track in each array.

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

    ids: npt.NDArray[np.int64]
    boxes: npt.NDArray[np.float32]
    scores: npt.NDArray[np.float32]
    classes: _Indices
    detections: _Indices
    velocities: npt.NDArray[np.float32]
    image_boxes: _Values
    confirmed: npt.NDArray[np.bool_]


def sparse_pairs(pairs: FootprintPairs, shape: tuple[int, int]) -> Any:
    """``pairs`` (ordered by ``first``, then ``second``) as a ``scipy.sparse.csr_matrix``
    of ``shape``, each value at row ``first``, column ``second``, zeros kept."""
    try:
        from scipy import sparse  # type: ignore[import]
    except ImportError as error:
        raise ImportError("sparse=True needs SciPy (scipy.sparse), which is not installed") \
            from error
    first, second, value = pairs
    # The pairs come ordered by row and column: the row pointers are the running counts.
    indptr = np.zeros(shape[0] + 1, dtype=np.intp)
    np.cumsum(np.bincount(first, minlength=shape[0]), out=indptr[1:])
    return sparse.csr_matrix((value, second, indptr), shape=shape)


class FrameEdge(NamedTuple):
    """One pair of directly joined frames, as listed by ``TransformManager.edges``.

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

    from_frame: str
    to_frame: str
    is_static: bool
    samples: int
    oldest: int
    newest: int


class _Codes:
    """The ``ok`` mask of a result that carries a ``TransformResult`` code per row."""

    __slots__ = ()
    codes: _Codes8

    @property
    def ok(self) -> npt.NDArray[np.bool_]:
        return self.codes == 0


class _PoseArrays(NamedTuple):
    positions: npt.NDArray[np.float32]
    quaternions: npt.NDArray[np.float32]
    timestamps: npt.NDArray[np.int64]
    codes: _Codes8


class PoseArrays(_Codes, _PoseArrays):
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


class _MatrixArrays(NamedTuple):
    matrices: npt.NDArray[np.float32]
    codes: _Codes8


class MatrixArrays(_Codes, _MatrixArrays):
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


class _PlacedPoints(NamedTuple):
    points: npt.NDArray[np.float32]
    codes: _Codes8


class PlacedPoints(_Codes, _PlacedPoints):
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
