"""docs/python.md runs as written and prints what it shows."""

import importlib.util

import pytest

from conftest import ROOT

found = importlib.util.spec_from_file_location("markdown_python",
                                              ROOT / "scripts" / "markdown_python.py")
markdown_python = importlib.util.module_from_spec(found)
found.loader.exec_module(markdown_python)


def test_python_page_runs_and_prints_what_it_shows(tmp_path, monkeypatch):
    # Every block runs: a package that a block needs and that is missing fails the test
    # (scripts/install-deps installs them all), and the picture goes to the folder the
    # test gives, never into the checkout.
    (tmp_path / "examples").symlink_to(ROOT / "examples")
    pictures = tmp_path / "pictures"
    pictures.mkdir()
    monkeypatch.chdir(tmp_path)
    monkeypatch.setenv("MPLBACKEND", "Agg")
    page = (ROOT / "docs" / "python.md").read_text()
    shown = (ROOT / "docs" / "python_drive.png").read_bytes()
    ran = 0
    try:
        for code, expected, printed in markdown_python.run(page, pictures=pictures):
            ran += 1
            if expected is not None:
                assert printed == expected, code
    except ModuleNotFoundError as missing:
        pytest.fail("a block of docs/python.md needs %s, which is not installed "
                    "(scripts/install-deps installs it)" % missing.name)
    assert ran == len(markdown_python.blocks(page))
    assert sorted(p.name for p in pictures.iterdir()) == ["python_drive.png",
                                                       "python_tracking_curve.png",
                                                       "python_tracks.png"]
    assert sorted(p.name for p in tmp_path.iterdir()) == ["examples", "pictures"]
    assert "(python_drive.png)" in page
    assert (ROOT / "docs" / "python_drive.png").read_bytes() == shown
