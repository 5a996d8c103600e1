"""The driving benchmark's tracking evaluation: ``evaluate_tracking`` and the record it
returns. The C++ library does the work (the same as ``zelvane_track_eval``); this
module only turns its JSON into a record and the curves into arrays."""

import json

import numpy as np

from ._zelvane import _evaluate_tracking


class TrackingEvaluation:
    """The figures of one evaluation, as returned by ``evaluate_tracking``.

    Attributes
    ----------
    classes : dict
        Class name to its figures: "samota", "amota", "amotp", "score_threshold" (the
        threshold of the whole-run pass, or None), "clear" (the CLEAR MOT figures of
        the whole run: "mota", "motp", "true_positives", "id_switches", ...),
        "identity" ("idf1", "idp", "idr", "idtp", "idfp", "idfn"), "hota" ("hota",
        "deta", "assa", "loca", ... and each at every alpha), "levels" (one entry per
        recall level: "recall", "score_threshold", "smota", "clear") and
        "sequences" (the whole-run figures of each sequence).
    overall : dict
        The means of the classes' ratios and the sums of their counts ("samota",
        "mota", "motp", "hota", "idf1", "id_switches", "fragmentations",
        "false_positives", "false_negatives").
    table : str
        The benchmark's table, as ``zelvane_track_eval`` prints it.
    """

    def __init__(self, document, table):
        self._document = document
        self.classes = {entry["class"]: entry for entry in document["classes"]}
        self.overall = document["overall"][0] if document["overall"] else {}
        self.table = table

    def curve(self, name):
        """The sMOTA-over-recall curve of class ``name``: two float64 arrays, the
        recall levels reached and sMOTA at each."""
        levels = self.classes[name]["levels"]
        return (np.array([level["recall"] for level in levels], dtype=np.float64),
                np.array([level["smota"] for level in levels], dtype=np.float64))

    def to_json(self):
        """Every figure as the JSON text that ``zelvane_track_eval --json`` writes."""
        return json.dumps(self._document)

    def __repr__(self):
        return "TrackingEvaluation(%s)" % ", ".join(
            "%s: sAMOTA %.4f MOTA %.4f" % (name, entry["samota"], entry["clear"]["mota"])
            for name, entry in self.classes.items())


def evaluate_tracking(ground_truth, results, classes=("car", "pedestrian", "cyclist"),
                      measure="3d", threshold=None, *, frame_counts=None, max_truncation=0,
                      max_occlusion=2, min_height=25.0, recall_levels=40):
    """Evaluates a tracker's results against ground truth by the driving benchmark's
    rules: CLEAR MOT, sAMOTA/AMOTA/AMOTP over recall, IDF1 and HOTA, for each class.

    Parameters
    ----------
    ground_truth, results : str, os.PathLike or mapping
        Two folders of files, one ``NNNN.txt`` per sequence (labels and results, read
        with the library's reader), or two mappings from a sequence's name to its
        columns, as ``read_tracking_file`` gives them ("frame", "track_id", "type",
        "bbox", "dimensions", "location", "rotation_y"; "truncated", "occluded",
        "alpha" and "score" optional).
    classes : sequence of str
        The classes to evaluate, each compared in lower case with the types.
    measure : {"3d", "bev", "2d", "distance"}
        3-D overlap, overlap of the footprints seen from above, image-box overlap, or
        distance of the centres on the ground.
    threshold : float, optional
        The smallest overlap of a match (default 0.25), or the largest distance in
        metres (default 2).
    frame_counts : mapping, optional
        Sequence name to its number of frames (default: one more than its largest
        frame). With folders, the sequences evaluated are the ones named here; without,
        every ``*.txt`` of the ground-truth folder.
    max_truncation, max_occlusion, min_height, recall_levels
        The benchmark's limits: ground truth truncated or occluded beyond these is
        ignored, unmatched results at most ``min_height`` pixels high are ignored, and
        sAMOTA averages over ``recall_levels`` levels.

    Returns
    -------
    TrackingEvaluation

    Raises
    ------
    ValueError
        For a file that cannot be read or a bad line ("file:line: reason"), columns of
        the wrong shape, or a threshold or limit out of range. The evaluation runs
        without the GIL.
    """
    if isinstance(classes, str):
        classes = [classes]
    text, table = _evaluate_tracking(ground_truth, results, list(classes), measure, threshold,
                                     frame_counts, max_truncation, max_occlusion, min_height,
                                     recall_levels)
    return TrackingEvaluation(json.loads(text), table)
