#!/usr/bin/env python3
"""Follows every relative link of a README and of the Markdown files it links
to, as installed: each must name a file or directory that is there, and an
anchor must name a heading of its file. A link to man/NAME.1 is satisfied by
the installed manual page.

Usage: check_links.py README [MAN_DIR]"""
import os
import re
import sys

LINK = re.compile(r"\]\(([^)\s]+)\)")


def slug(heading):
    """A heading's anchor, as GitHub makes it."""
    text = re.sub(r"[^\w\- ]", "", heading.strip().lower())
    return text.replace(" ", "-")


def anchors(path):
    with open(path, encoding="utf-8") as f:
        return {slug(line.lstrip("#")) for line in f if line.startswith("#")}


def check(readme, man_dir):
    broken, seen, queue = [], set(), [os.path.abspath(readme)]
    while queue:
        page = queue.pop()
        if page in seen:
            continue
        seen.add(page)
        with open(page, encoding="utf-8") as f:
            text = f.read()
        # Code blocks hold examples, not links.
        text = re.sub(r"```.*?```", "", text, flags=re.S)
        for target in LINK.findall(text):
            if re.match(r"[a-z]+:", target):
                continue  # http:, https:, mailto:
            path, _, anchor = target.partition("#")
            full = os.path.normpath(os.path.join(os.path.dirname(page), path)) if path else page
            man = re.fullmatch(r"(?:.*/)?man/([\w.-]+\.\d)", path)
            if man and man_dir and os.path.exists(os.path.join(man_dir, man.group(1) + ".gz")):
                continue
            if not os.path.exists(full):
                broken.append("%s: %s: no such file" % (page, target))
                continue
            if full.endswith(".md"):
                if anchor and slug(anchor) not in anchors(full):
                    broken.append("%s: %s: no such heading" % (page, target))
                queue.append(full)
    return broken, len(seen)


if __name__ == "__main__":
    broken, pages = check(sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else None)
    for line in broken:
        print(line, file=sys.stderr)
    if broken:
        sys.exit(1)
    print("every link of %d pages leads somewhere" % pages)
