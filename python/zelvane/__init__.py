"""zelvane: the suite's pose math, frame graph, tracked-object state and utilities.

The same C++ library as the suite's applications, from Python and NumPy: the same
settings files, lookups, overlaps and address forms, with the same numbers.

Pose and rotation math
    quaternion_from_ypr, ypr_from_quaternion, extrinsic_yaw_from_quaternion,
    transform_from_ypr, Pose
Frame graph
    TransformManager, TransformQueue, TransformResult, FrameEdge, Connection,
    PoseArrays, MatrixArrays, PlacedPoints, LocalOrigin
Tracked-object state and box matching
    State, overlap_pairs, generalized_overlap_pairs, overlap_3d_pairs, distance_pairs,
    overlap_matrix, generalized_overlap_matrix, overlap_3d_matrix, box_corners,
    FootprintPairs
Association and assignment
    associate, Association, linear_sum_assignment, sparse_assignment
Tracking
    Tracker, TrackedBoxes, boxes_from_camera, boxes_to_camera
Tracking evaluation
    evaluate_tracking, TrackingEvaluation, read_tracking_file
Utilities
    SequenceCheck, the module ``zelvane.address``
Errors
    the module ``zelvane.errors``

Conventions:

- Boxes are rows (x, y, z, heading, length, width, height) of (N, 7) arrays.
- A yaw/pitch/roll triple is (yaw, pitch, roll) in radians (degrees with
  ``degrees=True``): yaw about z, pitch about y, roll about x. The order of the
  three numbers is the same in both conventions; only the order of composition
  differs. ``convention="intrinsic"``: R = Rz(yaw) Ry(pitch) Rx(roll) (the usual
  vehicle heading/attitude); ``convention="extrinsic"``: R = Rx(roll) Ry(pitch)
  Rz(yaw) (the convention of the settings files).
- Quaternions are (x, y, z, w): the scalar last, as in SciPy's ``as_quat``.
- Batch functions are vectorised over a leading axis: one row of shape (3,) or (4,),
  or N rows of shape (N, 3) or (N, 4). Any real dtype is accepted; the computation is
  in single precision, as in the C++ library, and results are float32.
- The pose of frame a in frame b has the matrix b_T_a, which maps points given in a
  into b.
- Bad arguments raise ValueError; failures of the frame graph raise the exceptions
  of ``zelvane.errors``, which carry the result code.
- Batch work and every frame-graph call run without the GIL.
"""

from . import address, errors
from ._zelvane import (Connection, LocalOrigin, Pose, SequenceCheck, State, Tracker,
                       TransformManager, TransformQueue, TransformResult, associate,
                       box_corners, boxes_from_camera, boxes_to_camera,
                       centroid_distance_3d_pairs, centroid_distance_pairs, distance_pairs,
                       extrinsic_yaw_from_quaternion, generalized_overlap_matrix,
                       generalized_overlap_pairs, linear_sum_assignment, overlap_3d_matrix,
                       overlap_3d_pairs, overlap_matrix, overlap_pairs, quaternion_from_ypr,
                       read_tracking_file, sparse_assignment, transform_from_ypr,
                       ypr_from_quaternion)
from .errors import (FrameGraphError, FrameNotFoundError, NoFramesError, OutOfRangeError,
                     RefusedError, ResolutionError, SettingsError)
from .records import (Association, FootprintPairs, FrameEdge, MatrixArrays, PlacedPoints,
                      PoseArrays, TrackedBoxes)
from .tracking import TrackingEvaluation, evaluate_tracking

__all__ = ["Association", "Connection", "FootprintPairs", "FrameEdge", "FrameGraphError",
           "FrameNotFoundError", "LocalOrigin", "MatrixArrays", "NoFramesError",
           "OutOfRangeError", "PlacedPoints", "Pose", "PoseArrays", "RefusedError",
           "ResolutionError", "SequenceCheck", "SettingsError", "State", "TrackedBoxes", "Tracker",
           "TrackingEvaluation", "TransformManager", "TransformQueue", "TransformResult",
           "address", "associate", "box_corners", "boxes_from_camera", "boxes_to_camera",
           "centroid_distance_3d_pairs", "centroid_distance_pairs", "distance_pairs", "errors",
           "evaluate_tracking",
           "extrinsic_yaw_from_quaternion", "generalized_overlap_matrix",
           "generalized_overlap_pairs", "linear_sum_assignment", "overlap_3d_matrix",
           "overlap_3d_pairs", "overlap_matrix", "overlap_pairs", "quaternion_from_ypr",
           "read_tracking_file", "sparse_assignment", "transform_from_ypr",
           "ypr_from_quaternion"]
