"""examples/replay_many.py: many drives replayed in processes and on a Dask
LocalCluster give the serial results, also when a worker is killed mid-way."""

import functools
import os
import pathlib
import re
import signal
import sys
import time
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import zelvane
from conftest import EXAMPLES, ROOT

sys.path.insert(0, str(EXAMPLES))
import replay_many  # noqa: E402  (the example script, importable for the workers)

DRIVES = 6


@pytest.fixture(scope="module")
def drives(tmp_path_factory):
    """Six drives: the example drive shifted east by 10 m each, and sampled every 200
    ms from the second on, so that the replays differ."""
    folder = tmp_path_factory.mktemp("drives")
    header, *lines = (EXAMPLES / "navigation.csv").read_text().splitlines()
    paths = []
    for d in range(DRIVES):
        rows = [header]
        for index, line in enumerate(lines):
            fields = line.split(",")
            if d and index % 2 and index != len(lines) - 1:
                continue
            fields[3] = "%.4f" % (float(fields[3]) + 10 * d)
            rows.append(",".join(fields))
        paths.append(folder / ("drive%d.csv" % d))
        paths[-1].write_text("\n".join(rows) + "\n")
    return [str(path) for path in paths]


@pytest.fixture(scope="module")
def vehicle():
    return zelvane.TransformManager.from_settings(EXAMPLES / "vehicle.xml")


@pytest.fixture(scope="module")
def serial(vehicle, drives):
    return replay_many.replay_serial(vehicle, drives)


def same(results, expected):
    assert len(results) == len(expected)
    for (path, times, positions, error), (want_path, want_times, want_positions, _) in zip(
            results, expected):
        assert path == want_path and error is None, error
        assert times.tobytes() == want_times.tobytes()
        assert positions.dtype == np.float32 and positions.tobytes() == want_positions.tobytes()


def test_the_page_shows_the_script_as_it_is():
    page = (ROOT / "docs" / "python.md").read_text()
    shown = re.findall(r"^```python\n# examples/replay_many.py\n(.*?)^```\n", page,
                       re.MULTILINE | re.DOTALL)
    script = (EXAMPLES / "replay_many.py").read_text()
    assert len(shown) == 3 and all(part in script for part in shown)


def test_serial_replay_looks_up_every_drive_and_leaves_the_vehicle_alone(vehicle, serial):
    assert vehicle.frames == ["Sensor", "Body", "Global"]
    assert vehicle.history_size("Body", "Global") == 1  # the static pose of the settings
    assert [len(replay.times) for replay in serial] == [301] * DRIVES
    starts = [replay.positions[0, 0] - serial[0].positions[0, 0] for replay in serial]
    np.testing.assert_allclose(starts, 10.0 * np.arange(DRIVES), atol=1e-4)


def test_processes_give_the_serial_results(vehicle, drives, serial):
    same(replay_many.replay_processes(vehicle, drives, processes=2), serial)


def test_a_bad_file_gives_its_error_beside_the_others_results(vehicle, drives, serial,
                                                               tmp_path, monkeypatch, capsys):
    bad = tmp_path / "bad.csv"
    bad.write_text((EXAMPLES / "navigation.csv").read_text().replace(",0.0000,", ",east,", 1))
    missing = str(tmp_path / "missing.csv")
    monkeypatch.chdir(pathlib.Path(drives[1]).parent)
    # A relative path is taken from the caller's folder, a URL is read by the worker.
    sources = [drives[0], str(bad), pathlib.Path(drives[1]).name, missing,
               pathlib.Path(drives[2]).as_uri()]
    results = replay_many.replay_processes(vehicle, sources, processes=2)
    assert [r.source for r in results] == [drives[0], str(bad), drives[1], missing,
                                          pathlib.Path(drives[2]).as_uri()]
    same([results[0], results[2]], serial[:2])
    same([results[4]._replace(source=drives[2])], serial[2:3])
    assert results[1].times is None and results[1].positions is None
    assert results[1].error.startswith("ValueError: %s:2: " % bad), results[1]
    assert "'east'" in results[1].error
    assert results[3].error.startswith("FileNotFoundError: ") and missing in results[3].error

    # A worker cannot know the folder a relative path was meant from.
    refused = replay_many.replay("drive0.csv", vehicle)
    assert refused.error == "ValueError: drive0.csv: a relative path; give an absolute path " \
                            "or a URL"

    assert replay_many.main(["--processes", "1", drives[0], str(bad)]) == 1
    out, err = capsys.readouterr()
    assert out.startswith(drives[0] + ": 301 lookups") and err.startswith(str(bad) + ": ")


def gated(path, vehicle, step, gate):
    """`replay`, once a file named "go" exists in `gate` (at most a minute); first
    records its start in `gate` with the drive and the worker's process id."""
    gate = pathlib.Path(gate)
    (gate / ("started %s %d %d" % (pathlib.Path(path).stem, os.getpid(), time.monotonic_ns()))
     ).touch()
    deadline = time.monotonic() + 60
    while not (gate / "go").exists() and time.monotonic() < deadline:
        time.sleep(0.01)
    return replay_many.replay(path, vehicle, step)


def starts(gate):
    """(drive, process id) of every start recorded in `gate`."""
    found = (re.fullmatch(r"started (\S+) (\d+) \d+", p.name) for p in gate.iterdir())
    return [(m.group(1), int(m.group(2))) for m in found if m]


def test_dask_gives_the_serial_results_also_when_a_worker_dies(vehicle, drives, serial,
                                                              tmp_path, capsys):
    distributed = pytest.importorskip("dask.distributed")
    with replay_many.local_cluster(2) as cluster, distributed.Client(cluster) as client:
        same(replay_many.replay_dask(vehicle, drives, client), serial)
        assert "100% Completed" in capsys.readouterr().out  # the progress bar

        # Each worker holds a drive at the gate; one of them is killed there.
        task = functools.partial(gated, gate=str(tmp_path))
        with ThreadPoolExecutor(1) as runner:
            running = runner.submit(replay_many.replay_dask, vehicle, drives, client,
                                    progress=False, task=task)
            deadline = time.monotonic() + 30
            while len({pid for _, pid in starts(tmp_path)}) < 2:
                assert time.monotonic() < deadline and not running.done(), starts(tmp_path)
                time.sleep(0.01)
            victim = starts(tmp_path)[0][1]
            os.kill(victim, signal.SIGKILL)
            (tmp_path / "go").touch()
            same(running.result(timeout=60), serial)

    # The killed worker's drives ran again elsewhere; no other drive ran twice.
    started = starts(tmp_path)
    killed = {drive for drive, pid in started if pid == victim}
    assert killed
    for drive in {drive for drive, _ in started}:
        runs = [pid for d, pid in started if d == drive]
        assert len(runs) == (2 if drive in killed else 1), started
        assert runs.count(victim) <= 1
    assert sorted({d for d, _ in started}) == sorted(pathlib.Path(p).stem for p in drives)
