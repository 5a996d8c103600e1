#!/usr/bin/env python3
"""Runs the Python blocks of a Markdown page in order, in one namespace, as a reader
would in a notebook. A ```text block right after a ```python block holds that block's
expected standard output.

    markdown_python.py PAGE.md     run in the current directory, report differences
"""

import contextlib
import io
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


def run(page, skip=lambda code: False):
    """Runs every block but those that `skip` picks; yields (code, expected, printed)
    for each, printed None for a skipped block."""
    namespace = {"__name__": "__main__"}
    for code, expected in blocks(page):
        if skip(code):
            yield code, expected, None
            continue
        printed = io.StringIO()
        with contextlib.redirect_stdout(printed):
            exec(compile(code, "<markdown block>", "exec"), namespace)
        yield code, expected, printed.getvalue()


def main():
    with open(sys.argv[1]) as f:
        page = f.read()
    differences = 0
    for code, expected, printed in run(page):
        sys.stdout.write(printed)
        if expected is not None and printed != expected:
            differences += 1
            print("--- block printed something else than the page shows:\n%s" % code,
                  file=sys.stderr)
    return 1 if differences else 0


if __name__ == "__main__":
    sys.exit(main())
