#!/usr/bin/env python3
"""Runs the Python blocks of a Markdown page in order, in one namespace, as a reader
would in a notebook. A ```text block right after a ```python block holds that block's
expected standard output.

    markdown_python.py PAGE.md                  run in the current directory, report
                                                differences
    markdown_python.py PAGE.md --pictures DIR   also write each named matplotlib figure
                                                as DIR/<name>.png

A block draws a picture for the page by giving its figure a name
(``plt.subplots(..., num="python_drive")``); only a run that names a folder for the
pictures writes them, so running the page elsewhere (the tests) writes nothing.
"""

import argparse
import contextlib
import io
import os
import re
import sys

BLOCK = re.compile(r"^```(\w+)\n(.*?)^```\n", re.MULTILINE | re.DOTALL)


def blocks(page):
    """(code, expected output or None) for each Python block of the page."""
    found = [(m.group(1), m.group(2)) for m in BLOCK.finditer(page)]
    result = []
    for index, (language, body) in enumerate(found):
        if language == "python":
            following = found[index + 1] if index + 1 < len(found) else (None, None)
            result.append((body, following[1] if following[0] == "text" else None))
    return result


def save_pictures(directory):
    """Writes every open matplotlib figure that has a name as DIRECTORY/<name>.png, and
    closes it."""
    pyplot = sys.modules.get("matplotlib.pyplot")
    if pyplot is None:
        return
    for name in pyplot.get_figlabels():
        if name:
            figure = pyplot.figure(name)
            figure.savefig(os.path.join(directory, name + ".png"), dpi=80, bbox_inches="tight")
            pyplot.close(figure)


def run(page, pictures=None):
    """Runs every block; yields (code, expected, printed) for each. With `pictures` a
    folder, the named figures of each block are written there."""
    namespace = {"__name__": "__main__"}
    for code, expected in blocks(page):
        printed = io.StringIO()
        with contextlib.redirect_stdout(printed):
            exec(compile(code, "<markdown block>", "exec"), namespace)
        if pictures is not None:
            save_pictures(pictures)
        yield code, expected, printed.getvalue()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("page")
    parser.add_argument("--pictures", help="folder for the named figures")
    arguments = parser.parse_args()
    with open(arguments.page) as f:
        page = f.read()
    differences = 0
    for code, expected, printed in run(page, arguments.pictures):
        sys.stdout.write(printed)
        if expected is not None and printed != expected:
            differences += 1
            print("--- block printed something else than the page shows:\n%s" % code,
                  file=sys.stderr)
    return 1 if differences else 0


if __name__ == "__main__":
    sys.exit(main())
