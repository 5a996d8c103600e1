"""zelvane.Tracker against the C++ tracker (through zelvane_track), its pickling, its
parameters and its refusals."""

import copy
import pathlib
import pickle
import subprocess

import numpy as np
import pytest

import zelvane
from conftest import EXAMPLES, program

SETTINGS = EXAMPLES / "tracker_kitti.xml"
CLASSES = {"Pedestrian": 1, "Car": 2, "Cyclist": 3}


def drive(seed=7, frames=25):
    """Detections of a few objects in the benchmark's format, as (frame, class, image box,
    score, h, w, l, x, y, z, ry) rows: three cars and a pedestrian moving with noise, some
    frames missed, faint clutter."""
    rng = np.random.default_rng(seed)
    rows = []
    for f in range(frames):
        for k, (kind, x, z, vx, vz) in enumerate([("Car", -4, 15, 0.5, 6), ("Car", 3, 30, 0, -4),
                                                   ("Car", 8, 12, 0, 0), ("Pedestrian", -2, 9, 1, 0)]):
            if (f + k) % 7 == 3:
                continue
            size = (1.5, 1.7, 4.2) if kind == "Car" else (1.7, 0.6, 0.8)
            location = (x + 0.1 * f * vx + rng.normal(0, 0.05), 1.7,
                        z + 0.1 * f * vz + rng.normal(0, 0.05))
            rows.append((f, CLASSES[kind], (100 + 10 * k, 150, 160 + 10 * k, 220),
                         rng.uniform(2, 9), size, location, rng.normal(0.3 * k, 0.02)))
        if f % 4 == 0:
            rows.append((f, 2, (400, 180, 420, 200), rng.uniform(-1, 0.5), (1.5, 1.6, 3.9),
                         (rng.uniform(-10, 10), 1.7, rng.uniform(5, 40)), rng.uniform(-3, 3)))
    return rows


def detection_file(rows, path):
    with open(path, "w") as out:
        for f, kind, image, score, size, location, yaw in rows:
            out.write(",".join(str(v) for v in (f, kind, *image, score, *size, *location, yaw, 0))
                      + "\n")


def python_run(tracker, rows):
    """The rows tracked frame by frame in Python, as result records (frame, id, class name,
    location, dimensions, yaw, score)."""
    names = {v: k for k, v in CLASSES.items()}
    classes = [c["name"] for c in tracker.classes]
    results = []
    for f in range(min(r[0] for r in rows), max(r[0] for r in rows) + 1):
        frame = [r for r in rows if r[0] == f]
        kinds = [names[r[1]] for r in frame]
        keep = [i for i, kind in enumerate(kinds) if kind in classes]
        location = np.array([frame[i][5] for i in keep], dtype=float).reshape(-1, 3)
        size = np.array([frame[i][4] for i in keep], dtype=float).reshape(-1, 3)
        yaw = np.array([frame[i][6] for i in keep], dtype=float)
        boxes = zelvane.boxes_from_camera(location, size, yaw)
        scores = np.array([frame[i][3] for i in keep], dtype=np.float32)
        tracks = tracker.step(0.1 * f, boxes, scores, classes=np.array([kinds[i] for i in keep]),
                              image_boxes=np.array([frame[i][2] for i in keep], dtype=float).reshape(-1, 4))
        at, dims, turn = zelvane.boxes_to_camera(tracks.boxes)
        for i in range(len(tracks.ids)):
            results.append((f, int(tracks.ids[i]), classes[tracks.classes[i]], *at[i], *dims[i],
                            turn[i], float(tracks.scores[i]), *tracks.image_boxes[i]))
    return results


def test_step_tracks_as_the_command_line_program(tmp_path):
    rows = drive()
    (tmp_path / "detections").mkdir()
    detection_file(rows, tmp_path / "detections" / "0000.txt")
    subprocess.run([program("ZELVANE_TRACK"), "-q", "-d", str(tmp_path / "detections"),
                    "-a", str(SETTINGS), "-o", str(tmp_path / "results")], check=True,
                   capture_output=True)
    written = zelvane.read_tracking_file(tmp_path / "results" / "0000.txt")
    expected = [(int(f), int(i), str(t), *loc, *dims, yaw, score, *image)
                for f, i, t, loc, dims, yaw, score, image in zip(
                    written["frame"], written["track_id"], written["type"], written["location"],
                    written["dimensions"], written["rotation_y"], written["score"], written["bbox"])]
    ours = python_run(zelvane.Tracker.from_settings(SETTINGS), rows)
    # The same tracks, and boxes equal to the float rounding of the scores (written as
    # the float32 scores widened to double, which read back exactly).
    assert len(ours) == len(expected) > 50
    for a, b in zip(ours, expected):
        assert a[:3] == b[:3]
        np.testing.assert_array_equal(np.array(a[3:], dtype=float), np.array(b[3:], dtype=float))


def test_pickled_tracker_resumes_exactly():
    rows = drive(seed=3)
    first, second = [r for r in rows if r[0] < 12], [r for r in rows if r[0] >= 12]
    tracker = zelvane.Tracker.from_settings(SETTINGS)
    python_run(tracker, first)
    for clone in (pickle.loads(pickle.dumps(tracker)), copy.deepcopy(tracker)):
        assert clone.frames == tracker.frames == 12 and clone.time == tracker.time
        assert clone.classes == tracker.classes
        assert repr(clone) == repr(tracker)
        np.testing.assert_array_equal(clone.tracks().boxes, tracker.tracks().boxes)
    clone = pickle.loads(pickle.dumps(tracker))
    assert python_run(clone, second) == python_run(tracker, second)


def test_parameters_read_back_and_override_per_class():
    tracker = zelvane.Tracker(["car", {"name": "ped", "association": {"threshold": 0.5}}],
                              motion_model="constant_turn_rate",
                              association={"metric": "centroid_distance", "threshold": 2.0},
                              constant_turn_rate={"acceleration_noise": 3.5}, confirm_hits=1)
    car, ped = tracker.classes
    assert car["motion_model"] == ped["motion_model"] == "constant_turn_rate"
    assert car["association"] == {"metric": "centroid_distance", "method": "optimal", "threshold": 2}
    assert ped["association"]["threshold"] == 0.5
    assert car["constant_turn_rate"]["acceleration_noise"] == 3.5
    assert car["birth_score"] == float("-inf") and car["output"]["tentative_in_first_frames"] is True
    assert zelvane.Tracker(tracker.classes).classes == tracker.classes
    # Confirmed at the first detection; the pedestrian's class by name.
    tracks = tracker.step(0.0, [[0, 0, 0, 0, 4, 2, 1.5], [9, 9, 0, 0, 0.6, 0.6, 1.7]], [1, 2],
                          classes=["ped", "car"])
    # Classes are tracked in their order: the car (the second box) takes the first id.
    assert tracks.ids.tolist() == [0, 1] and tracks.classes.tolist() == [0, 1]
    assert tracks.confirmed.all() and tracks.detections.tolist() == [1, 0]


@pytest.mark.parametrize("make, error, message", [
    (lambda: zelvane.Tracker(["car"], confirm_hit=2), ValueError, "confirmHit: not a tracker"),
    (lambda: zelvane.Tracker(["car"], confirm_hits="two"), ValueError, "is not an integer"),
    (lambda: zelvane.Tracker(["car"], confirm_hits=0), ValueError, "confirmHits must be at least 1"),
    (lambda: zelvane.Tracker(["car"], association={"metric": "iou"}), ValueError, "unknown name"),
    (lambda: zelvane.Tracker(["car", "car"]), ValueError, "given twice"),
    (lambda: zelvane.Tracker("car"), TypeError, "sequence of class names"),
    (lambda: zelvane.Tracker(["car"], output=[1]), TypeError, "must be a number"),
    (lambda: zelvane.Tracker.from_settings("/no/such/file.xml"), ValueError, "file.xml"),
])
def test_refuses_bad_parameters(make, error, message):
    with pytest.raises(error, match=message):
        make()


@pytest.mark.parametrize("call, message", [
    (lambda t: t.step(0.5, np.zeros((2, 6)), [1, 1]), "boxes"),
    (lambda t: t.step(0.5, np.zeros((2, 7)), [1]), "scores must be an array of shape"),
    (lambda t: t.step(0.5, np.zeros((2, 7)), [1, 1], classes=["car", "bus"]), "no class \"bus\""),
    (lambda t: t.step(0.5, np.zeros((1, 7)), [1], classes=[-1]), "negative"),
    (lambda t: t.step(0.5, np.zeros((1, 7)), [1], classes=[1.5]), "class indices"),
    (lambda t: t.step(0.5, np.zeros((1, 7)), [1], classes=[3]), "detection 0 has class 3"),
    (lambda t: t.step(0.5, np.zeros((1, 7)), [1], image_boxes=np.zeros((2, 4))), "one row per box"),
    (lambda t: t.step(0.5, np.full((1, 7), np.nan), [1]), "no finite box"),
    (lambda t: t.step(0.1, np.zeros((0, 7)), []), "before the last frame"),
])
def test_refuses_bad_frames_and_changes_nothing(call, message):
    tracker = zelvane.Tracker(["car", "ped"])
    tracker.step(0.2, [[0, 0, 0, 0, 4, 2, 1.5]], [1])
    before = pickle.dumps(tracker)
    with pytest.raises(ValueError, match=message):
        call(tracker)
    assert pickle.dumps(tracker) == before
