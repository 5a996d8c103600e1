"""zelvane.evaluate_tracking and read_tracking_file: folders and NumPy columns give the
same figures, worked out by hand for a small case, and bad input raises ValueError."""

import json

import numpy as np
import pytest

import zelvane

# Four cars, one a frame, each found by its own track (scores 0.9 to 0.6), and two false
# tracks scored 0.95 (the case of tests/apps/zelvane_track_eval_test.cpp): with four
# recall levels sAMOTA is (0 + 1/2 + 2/3) / 4, the whole run has FP 2, HOTA sqrt(4/6),
# IDF1 8/10.
SCORES = ["0.9", "0.8", "0.7", "0.6"]
TRUTH = "".join("%d %d Car 0 0 0 0 100 20 150 1.5 1.6 4 0 1.5 20 0\n" % (f, f) for f in range(4))
RESULTS = "".join("%d 1%d Car -1 -1 0 0 100 20 150 1.5 1.6 4 0 1.5 20 0 %s\n" % (f, f, s)
                  for f, s in enumerate(SCORES)) + \
    "0 20 Car -1 -1 0 300 100 320 150 1.5 1.6 4 9 1.5 20 0 0.95\n" \
    "1 21 Car -1 -1 0 300 100 320 150 1.5 1.6 4 9 1.5 20 0 0.95\n"


@pytest.fixture
def folders(tmp_path):
    for name, text in (("gt", TRUTH), ("res", RESULTS)):
        (tmp_path / name).mkdir()
        (tmp_path / name / "0000.txt").write_text(text)
    return tmp_path / "gt", tmp_path / "res"


def test_folders_and_columns_give_the_figures_worked_out_by_hand(folders):
    truth, results = folders
    evaluation = zelvane.evaluate_tracking(truth, results, "car", "2d", 0.5, recall_levels=4)
    columns = zelvane.evaluate_tracking(
        {"0000": zelvane.read_tracking_file(truth / "0000.txt", "labels")},
        {"0000": zelvane.read_tracking_file(results / "0000.txt")}, ["car"], "2d", 0.5,
        recall_levels=4)
    assert columns.to_json() == evaluation.to_json()
    car = evaluation.classes["car"]
    assert car["samota"] == pytest.approx((0.5 + 2 / 3) / 4, abs=1e-15)
    assert car["score_threshold"] == 0.6
    assert car["clear"]["false_positives"] == 2 and car["clear"]["mota"] == 0.5
    assert car["hota"]["hota"] == pytest.approx(np.sqrt(4 / 6), abs=1e-15)
    assert car["identity"]["idf1"] == pytest.approx(0.8, abs=1e-15)
    recall, smota = evaluation.curve("car")
    assert recall.tolist() == [0.25, 0.5, 0.75]
    assert smota == pytest.approx([0.0, 0.5, 2 / 3], abs=1e-15)
    assert evaluation.overall["samota"] == car["samota"]
    assert "car            29.17   50.00   100.00" in evaluation.table
    assert json.loads(evaluation.to_json())["classes"][0]["class"] == "car"


def test_reads_every_column_of_a_file(folders):
    columns = zelvane.read_tracking_file(folders[1] / "0000.txt")
    assert columns["frame"].tolist() == [0, 1, 2, 3, 0, 1]
    assert columns["track_id"].tolist() == [10, 11, 12, 13, 20, 21]
    assert columns["type"].tolist() == ["Car"] * 6
    assert columns["bbox"].shape == (6, 4) and columns["bbox"][4].tolist() == [300, 100, 320, 150]
    assert columns["dimensions"][0].tolist() == [1.5, 1.6, 4]
    assert columns["location"][4].tolist() == [9, 1.5, 20]
    assert columns["score"].tolist() == [0.9, 0.8, 0.7, 0.6, 0.95, 0.95]
    assert columns["truncated"].tolist() == [-1] * 6


def test_refuses_bad_input_with_value_errors(folders, tmp_path):
    truth, results = folders
    (tmp_path / "bad.txt").write_text("0 1 Car\n")
    columns = zelvane.read_tracking_file(truth / "0000.txt", "labels")
    cases = [
        (lambda: zelvane.read_tracking_file(tmp_path / "bad.txt"),
         "bad.txt:1: expected 17 or 18 fields, found 3"),
        (lambda: zelvane.read_tracking_file(tmp_path / "none.txt"), "none.txt: cannot open"),
        (lambda: zelvane.read_tracking_file(truth / "0000.txt", "csv"), "format must be"),
        (lambda: zelvane.evaluate_tracking(truth, results, measure="4d"), "measure must be"),
        (lambda: zelvane.evaluate_tracking(truth, results, threshold=2.0),
         "overlap threshold must lie in (0, 1]"),
        (lambda: zelvane.evaluate_tracking(truth, {"0000": columns}), "both be folders"),
        (lambda: zelvane.evaluate_tracking({"0000": columns}, {}), "results has no sequence"),
        (lambda: zelvane.evaluate_tracking({"0000": {**columns, "bbox": columns["bbox"][:, :3]}},
                                           {"0000": columns}), "must have shape (N, 4)"),
        (lambda: zelvane.evaluate_tracking({"0000": {**columns, "frame": columns["frame"] + 0.5}},
                                           {"0000": columns}), "must hold integers"),
        (lambda: zelvane.evaluate_tracking({"0000": {"frame": columns["frame"]}},
                                           {"0000": columns}), "has no column"),
    ]
    for call, message in cases:
        with pytest.raises(ValueError, match=message.replace("(", r"\(").replace(")", r"\)")):
            call()
