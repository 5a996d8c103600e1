"""Every name and alias of the library's name tables (as the C++ reference program lists
them) is accepted, and printed, alike by the Python module and by the command line or
the settings reader."""

import json
import subprocess

import pytest

import zelvane
from conftest import EXAMPLES, program
from test_tracking import folders  # noqa: F401 (a fixture)


@pytest.fixture(scope="module")
def tables(reference):
    """Table title -> (names, {alias: name})."""
    found = {}
    for line in reference.text("names", until="END").splitlines():
        title, rest = line.split(" ", 1)
        names, aliases = rest.split("|")
        found[title] = (names.split(), dict(a.split("=") for a in aliases.split()))
    return found


def spellings(tables, title):
    """Every text the table reads, each with the name it stands for."""
    names, aliases = tables[title]
    return [(name, name) for name in names] + list(aliases.items())


BOX = [[0, 0, 0, 4, 2, 1.5, 0.1]]


def test_every_table_is_listed(tables):
    assert sorted(tables) == ["assignment", "drop_reason", "format", "measure", "method",
                              "metric", "motion_model", "result"]
    assert "mostrecent" in tables["method"][1] and "image" in tables["measure"][1]


def test_sampling_methods_read_alike_by_python_and_zelvane_frames(tables, drive, frames_app):
    for text, name in spellings(tables, "method"):
        printed = frames_app("--poses", str(EXAMPLES / "navigation.csv"), "--from", "Sensor",
                             "--to", "Global", "--time", "15000", "--method", text).stdout
        assert printed.splitlines()[0].endswith("(%s)" % name), text
        expected = drive.lookup("Sensor", "Global", 15000, method=name)
        assert repr(drive.lookup("Sensor", "Global", 15000, method=text)) == repr(expected)
        assert drive.can_transform("Sensor", "Global", 15000, method=text)
        waited = drive.wait_for_transform("Sensor", "Global", 15000, timeout=0, method=text)
        assert repr(waited) == repr(expected), text


def test_result_codes_print_alike_in_python_and_zelvane_frames(tables, drive, frames_app):
    names = tables["result"][0]
    members = [m.replace("_", "") for m in zelvane.TransformResult.__members__]
    assert members == [n.upper() for n in names]
    for time, code in ((31000, "OutOfRange"), (100, "NotFound")):
        frame = "Sensor" if code == "OutOfRange" else "Nowhere"
        printed = frames_app("--poses", str(EXAMPLES / "navigation.csv"), "--from", frame,
                             "--to", "Global", "--time", str(time), check=False)
        with pytest.raises(zelvane.FrameGraphError) as raised:
            drive.lookup(frame, "Global", time)
        assert "failed: %s" % code in printed.stderr and "failed: %s" % code in str(raised.value)


def test_drop_reasons_are_the_queues_counts(tables):
    graph = zelvane.TransformManager()
    graph.set_transform("Sensor", "Global", zelvane.Pose(), 100)
    reasons = []
    queue = zelvane.TransformQueue(graph, "Global", capacity=1,
                                   on_drop=lambda *dropped: reasons.append(dropped[3]))
    queue.push(1, "Sensor", 150)
    queue.push(2, "Sensor", 160)  # full: the first makes room
    queue.clear()
    assert list(queue.counts()["dropped"]) == tables["drop_reason"][0]
    assert reasons == ["full", "cleared"]


def test_association_names_read_alike_by_python_and_the_settings_reader(tables):
    for text, name in spellings(tables, "metric"):
        found = zelvane.associate(BOX, BOX, metric=text, threshold=1.0 if "distance" in text else 0)
        assert found.track.tolist() == [0], text
        tracker = zelvane.Tracker([{"name": "car", "association": {"metric": text}}])
        assert tracker.classes[0]["association"]["metric"] == name
    for text, name in spellings(tables, "assignment"):
        assert zelvane.associate(BOX, BOX, method=text).track.tolist() == [0]
        rows, _ = zelvane.sparse_assignment([0], [0], [1.0], (1, 1), method=text)
        assert rows.tolist() == [0]
        tracker = zelvane.Tracker([{"name": "car", "association": {"method": text}}])
        assert tracker.classes[0]["association"]["method"] == name
    for text, name in spellings(tables, "motion_model"):
        assert zelvane.Tracker(["car"], motion_model=text).classes[0]["motion_model"] == name


def test_measures_read_alike_by_python_and_zelvane_track_eval(tables, folders):  # noqa: F811
    truth, results = folders
    app = program("ZELVANE_TRACK_EVAL")
    for text, name in spellings(tables, "measure"):
        evaluation = json.loads(zelvane.evaluate_tracking(truth, results, "car", text, 1.0).to_json())
        printed = subprocess.run([app, "-q", "-g", str(truth), "-r", str(results), "-c", "car",
                                  "-m", text, "-t", "1", "--json", "-"],
                                 capture_output=True, text=True, check=True).stdout
        assert evaluation["classes"][0]["measure"] == name, text
        # The table comes first on standard output, then the JSON on the last line.
        assert json.loads(printed.splitlines()[-1])["classes"][0] == evaluation["classes"][0]


def test_formats_read_by_python(tables, tmp_path):
    lines = {"labels": "0 1 Car 0 0 0 0 100 20 150 1.5 1.6 4 0 1.5 20 0\n",
             "results": "0 1 Car -1 -1 0 0 100 20 150 1.5 1.6 4 0 1.5 20 0 0.9\n",
             "detections": "0,2,0,100,20,150,0.9,1.5,1.6,4,0,1.5,20,0,0\n"}
    for text, name in spellings(tables, "format"):
        (tmp_path / "0000.txt").write_text(lines[name])
        assert zelvane.read_tracking_file(tmp_path / "0000.txt", text)["frame"].tolist() == [0]
