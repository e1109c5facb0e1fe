#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The documentation holds together: every relative link in README.md and
docs/*.md leads to a file that exists, and to a heading of it where the link
names one (#anchor, as GitHub makes them from the heading's text); and the
README stays a front page, under 200 lines.  Prints every broken link, then
exits 1 if there was one.

Usage: docs_links_test.py REPOSITORY_ROOT
"""

import glob
import os
import re
import sys

README_LINES = 200
LINK = re.compile(r"!?\[[^\]]*\]\(([^)\s]+)\)")
FENCE = re.compile(r"^[ \t]*```.*?^[ \t]*```[^\n]*$", re.S | re.M)


def prose(text):
    """The Markdown outside fenced code blocks and inline code spans."""
    text = FENCE.sub("", text)
    return re.sub(r"`[^`\n]*`", "", text)


def anchors(path):
    """The anchors GitHub gives the headings of a Markdown file."""
    seen, found = {}, set()
    with open(path, encoding="utf-8") as f:
        text = FENCE.sub("", f.read())
    for heading in re.findall(r"^#{1,6}\s+(.*?)\s*#*\s*$", text, flags=re.M):
        slug = re.sub(r"[^\w\- ]", "", heading.lower()).replace(" ", "-")
        count = seen.get(slug, 0)
        seen[slug] = count + 1
        found.add(slug if count == 0 else f"{slug}-{count}")
    return found


def broken_links(path):
    with open(path, encoding="utf-8") as f:
        text = prose(f.read())
    for target in LINK.findall(text):
        if re.match(r"[a-z][a-z0-9+.-]*:", target):  # https:, mailto: ...
            continue
        file, _, anchor = target.partition("#")
        resolved = os.path.normpath(os.path.join(os.path.dirname(path), file)) if file else path
        if not os.path.exists(resolved):
            yield f"{path}: {target}: no such file"
        elif anchor and (not resolved.endswith(".md") or anchor not in anchors(resolved)):
            yield f"{path}: {target}: no heading #{anchor} there"


def main():
    root = sys.argv[1]
    readme = os.path.join(root, "README.md")
    pages = [readme] + sorted(glob.glob(os.path.join(root, "docs", "*.md")))
    failures = [problem for page in pages for problem in broken_links(page)]
    with open(readme, encoding="utf-8") as f:
        lines = len(f.read().splitlines())
    if lines >= README_LINES:
        failures.append(f"{readme}: {lines} lines; the front page stays under {README_LINES}")
    if len(pages) < 2:
        failures.append(f"{root}/docs holds no pages")
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
