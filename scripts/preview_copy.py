#!/usr/bin/env python3
"""A copy of a game directory for the preview's views.

Every copy streams without a per-frame budget and keeps what it loaded
(StreamingBudgetMs=0, DontUnloadCulledModels=1 first in the settings), which
changes how soon a view is ready, never what it shows. --far also puts
DrawDistance first in the map definition, so that every group is drawn from
afar (the overview and the corners). The first value of a key wins, so the
copy's lines go right after the first [Options].
    preview_copy.py GAME_DIR COPY_DIR [--far]
"""
import os
import re
import shutil
import sys


def put_first(path, lines):
    text = open(path, encoding="latin-1").read()
    text, found = re.subn(r"(?im)^([ \t]*\[options\][^\n]*)$", lambda m: m.group(1) + "\n" + "\n".join(lines),
                          text, count=1)
    if not found:
        text = "[Options]\n" + "\n".join(lines) + "\n" + text
    open(path, "w", encoding="latin-1").write(text)


def make_copy(game, copy, far=False):
    shutil.copytree(game, copy)
    log = os.path.join(copy, "VornakMapLoader.log")
    if os.path.exists(log):
        os.remove(log)
    settings = os.path.join(copy, "VornakMapLoader_Config.ini")
    if not os.path.exists(settings):
        return
    put_first(settings, ["StreamingBudgetMs=0", "DontUnloadCulledModels=1"])
    map_path = re.search(r"(?im)^[ \t]*MapPath[ \t]*=[ \t]*(.*?)[ \t\r]*$", open(settings, encoding="latin-1").read())
    if far and map_path:
        path = os.path.join(copy, *map_path.group(1).strip("\"'").split("\\"))
        if os.path.exists(path):
            put_first(path, ["DrawDistance=1000000"])


if __name__ == "__main__":
    if len(sys.argv) not in (3, 4) or (len(sys.argv) == 4 and sys.argv[3] != "--far"):
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    make_copy(sys.argv[1], sys.argv[2], len(sys.argv) == 4)
