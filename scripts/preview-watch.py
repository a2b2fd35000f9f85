#!/usr/bin/env python3
"""Keeps the automatic views of a map up to date while its author edits it.

Takes every view once (scripts/preview-views.sh), then watches the files
of the game directory. When files change (and have stayed unchanged for a
moment, so a save is complete) the map checker plans the views again and
only the views the change touches are taken again: the views of the groups
whose model, LOD or texture files changed, the overview and the corners
with them, the collision views when a collision file changed, and every
view when the settings or the map definition changed. A changed file the
plug-in cannot import (a file saved half-way) keeps its groups' last good
pictures, and index.html names the error. The page is written as soon as
the pictures are; then the contact sheet again.

Runs inside a Wine session (scripts/run-preview.sh --watch starts it).
    preview-watch.py BIN_DIR PLUGIN_DLL GAME_DIR OUT_DIR [--updates N]
--updates N stops after N updates (for tests and benchmarks).
"""
import concurrent.futures
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

from preview_copy import make_copy

FAILED_IMPORT = {"file-missing", "file-unreadable", "importer-crash", "importer-timeout", "no-normals"}
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def windows(path):
    return subprocess.run(["winepath", "-w", path], check=True, capture_output=True, text=True).stdout.strip()


def snapshot(game):
    """Size and time of every file below the game directory but the log."""
    files = {}
    for folder, _, names in os.walk(game):
        for name in names:
            if name.lower() == "vornakmaploader.log":
                continue
            full = os.path.join(folder, name)
            try:
                stat = os.stat(full)
            except FileNotFoundError:
                continue
            files[os.path.relpath(full, game).replace("/", "\\").lower()] = (stat.st_mtime_ns, stat.st_size)
    return files


def wait_for_change(game, before):
    """The relative paths (lower case) that changed, once nothing has changed for 0.3 s."""
    while True:
        time.sleep(0.1)
        now = snapshot(game)
        if now != before:
            break
    while True:
        time.sleep(0.3)
        later = snapshot(game)
        if later == now:
            break
        now = later
    changed = {path for path in set(before) | set(now) if before.get(path) != now.get(path)}
    return changed, now


def read_views(path):
    with open(path, encoding="utf-8") as lines:
        return [line for line in lines if line.strip() and not line.startswith("#")]


def group_of(role):
    match = re.fullmatch(r"MapModel(\d+)(Path\d*|LODPath)", role)
    return int(match.group(1)) if match else None


def affected(report, changed):
    """Groups to take again, whether everything or the collision views are,
    and the import errors of changed files (their groups are kept)."""
    every, collisions, groups, errors, kept = False, False, set(), [], set()
    models = {f["path"].lower(): f for f in report["files"] if f["kind"] in ("model", "collision model")}
    for f in report["files"]:
        path = f["path"].lower()
        if path not in changed:
            continue
        if f["kind"] in ("settings", "map definition"):
            every = True
            continue
        users = [f] if f["kind"] != "texture" else [models[r.lower()] for r in f["roles"] if r.lower() in models]
        bad = [g for g in f["findings"] if g["code"] in FAILED_IMPORT]
        for user in users:
            collisions |= user["kind"] == "collision model"
            for role in user["roles"]:
                group = group_of(role)
                if group is not None:
                    (kept if bad else groups).add(group)
        errors += [f"{f['path']}: {g['severity']} {g['code']}: {g['message']}" for g in bad]
    return every, collisions, groups - kept, kept, errors


class Watch:
    def __init__(self, bin_dir, plugin, game, out, cache):
        self.bin, self.plugin, self.game, self.out = bin_dir, plugin, game, out
        # The checker's import results, kept while the watch runs: a save
        # re-imports only the files it touched.
        self.cache = cache

    def wine(self, *arguments, output=subprocess.DEVNULL):
        return subprocess.run(["wine", *arguments], stdout=output, stderr=subprocess.STDOUT).returncode

    def take(self, game, lines, to, *extra):
        if not lines:
            return
        os.makedirs(to, exist_ok=True)
        listing = os.path.join(to, "take.txt")
        with open(listing, "w", encoding="utf-8") as out:
            out.writelines(lines)
        if self.wine(os.path.join(self.bin, "vornak_host.exe"), "--game", windows(game), "--out", windows(to),
                     "--plugin", windows(self.plugin), "--views", windows(listing), *extra):
            raise RuntimeError("the preview could not take the views")
        for line in lines:
            name = line.split()[0]
            shutil.copyfile(os.path.join(to, name), os.path.join(self.out, name))

    def update(self, changed):
        self.phases = []
        with tempfile.TemporaryDirectory() as scratch:
            plan = os.path.join(scratch, "plan")
            with open(os.path.join(scratch, "check.json"), "w") as out:
                status = subprocess.run(["wine", os.path.join(self.bin, "vornak_check_map.exe"), "--json",
                                         "--no-progress", "--import-cache", windows(self.cache),
                                         "--views-out", windows(plan), windows(self.game)],
                                        stdout=out, stderr=subprocess.DEVNULL).returncode
            if status >= 3 or not os.path.exists(os.path.join(plan, "views.txt")):
                self.page_error(f"the map checker could not run (exit {status})", None)
                return 0
            self.lap("check")
            report = json.load(open(os.path.join(scratch, "check.json"), encoding="utf-8"))
            every, collisions, groups, kept, errors = affected(report, changed)
            # Something that would end the game ends the preview's game too
            # (a no-normals file's message box would wait for ever): nothing
            # is taken until it is mended.
            fatal = [f"{f['path']}: {g['code']}: {g['message']}" for f in report["files"] for g in f["findings"]
                     if g["severity"] == "fatal"]
            if fatal:
                self.page_error("; ".join(fatal), None)
                return 0
            group_views = [line for line in read_views(os.path.join(plan, "views.txt"))
                           if every or int(re.match(r"group_(\d+)_", line).group(1)) in groups]
            overview = read_views(os.path.join(plan, "overview_views.txt")) if every or groups or collisions else []
            collision = read_views(os.path.join(plan, "collision_views.txt")) if every or collisions else []
            # The runs are processes of their own on copies: side by side.
            runs = []
            for lines, name, far, extra in [(group_views, "near", False, ()), (overview, "overview", True, ()),
                                            (collision, "collision", True, ("--show-collisions",))]:
                if lines:
                    make_copy(self.game, os.path.join(scratch, name + "-game"), far)
                    runs.append((os.path.join(scratch, name + "-game"), lines, name, extra))
            with concurrent.futures.ThreadPoolExecutor(max(1, len(runs))) as pool:
                for result in [pool.submit(self.take, game, lines, os.path.join(scratch, name), *extra)
                               for game, lines, name, extra in runs]:
                    result.result()
            self.lap("views")
            lists = ["overview_views.txt", "views.txt", "collision_views.txt"]
            for name in lists:
                # A kept group's pictures stay on the sheet and the page: its
                # views come from the last good plan.
                if kept and name == "views.txt":
                    old = [l for l in read_views(os.path.join(self.out, name))
                           if int(re.match(r"group_(\d+)_", l).group(1)) in kept]
                    new = [l for l in read_views(os.path.join(plan, name))
                           if int(re.match(r"group_(\d+)_", l).group(1)) not in kept]
                    with open(os.path.join(self.out, name), "w", encoding="utf-8") as out:
                        out.writelines(new + old)
                else:
                    shutil.copyfile(os.path.join(plan, name), os.path.join(self.out, name))
            # The page shows the new pictures at once; the sheet follows.
            self.page_error("; ".join(errors), os.path.join(plan, "index.html"))
            self.lap("page")
            self.wine(os.path.join(self.bin, "vornak_host.exe"), "--contact-sheet", windows(self.out),
                      *[windows(os.path.join(self.out, name)) for name in lists])
            self.lap("sheet")
            return len(group_views) + len(overview) + len(collision)

    def lap(self, name):
        """Times the update's steps, for the line that reports it."""
        self.phases.append((name, time.time()))

    def page_error(self, error, page):
        """index.html from the new plan (or the last one), naming the error."""
        source = page or os.path.join(self.out, "index.html")
        text = open(source, encoding="utf-8").read()
        text = re.sub(r"<script>\nconst previewError = .*\n", "<script>\n", text)
        if error:
            text = text.replace("<script>\n", "<script>\nconst previewError = " + json.dumps(
                "Not updated, the last good pictures are shown: " + error).replace("</", "<\\/") + ";\n", 1)
        with open(os.path.join(self.out, "index.html"), "w", encoding="utf-8") as out:
            out.write(text)


def watch_game(watch, updates):
    if subprocess.run(["bash", os.path.join(ROOT, "scripts", "preview-views.sh"), watch.bin, watch.plugin, watch.game,
                       watch.out], env=dict(os.environ, VORNAK_IMPORT_CACHE=watch.cache)).returncode:
        return 1
    game, out = watch.game, watch.out
    state = snapshot(game)
    done = 0
    while updates is None or done < updates:
        print(f"watching {game} (the page: {out}/index.html)", flush=True)
        changed, state = wait_for_change(game, state)
        start = time.time()
        taken = watch.update(changed)
        steps, at = [], start
        for name, end in watch.phases:
            steps.append(f"{name} {end - at:.1f} s")
            at = end
        page = dict(watch.phases).get("page", time.time())
        print(f"updated {taken} views in {time.time() - start:.1f} s ({', '.join(steps)}) after {len(changed)} "
              f"changed files; page at {page:.3f}; done at {time.time():.3f}", flush=True)
        state = snapshot(game)
        done += 1
    return 0


def main():
    arguments = sys.argv[1:]
    updates = None
    if "--updates" in arguments:
        at = arguments.index("--updates")
        updates = int(arguments[at + 1])
        del arguments[at:at + 2]
    if len(arguments) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    bin_dir, plugin, game, out = (os.path.abspath(a) for a in arguments)
    with tempfile.TemporaryDirectory() as cache:
        return watch_game(Watch(bin_dir, plugin, game, out, cache), updates)

if __name__ == "__main__":
    sys.exit(main())
