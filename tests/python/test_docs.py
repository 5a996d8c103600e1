"""docs/python.md runs as written and prints what it shows."""

import importlib.util

from conftest import ROOT

found = importlib.util.spec_from_file_location("markdown_python",
                                              ROOT / "scripts" / "markdown_python.py")
markdown_python = importlib.util.module_from_spec(found)
found.loader.exec_module(markdown_python)


def test_python_page_runs_and_prints_what_it_shows(tmp_path, monkeypatch):
    (tmp_path / "examples").symlink_to(ROOT / "examples")
    (tmp_path / "docs").mkdir()
    monkeypatch.chdir(tmp_path)
    page = (ROOT / "docs" / "python.md").read_text()
    plotting = importlib.util.find_spec("matplotlib") is not None
    ran = 0
    for code, expected, printed in markdown_python.run(
            page, skip=lambda code: "matplotlib" in code and not plotting):
        ran += printed is not None
        if printed is not None and expected is not None:
            assert printed == expected, code
    assert ran >= 5
    for picture in ("python_drive.png", "python_tracks.png"):
        assert (tmp_path / "docs" / picture).exists() == plotting
        assert "(%s)" % picture in page and (ROOT / "docs" / picture).exists()
