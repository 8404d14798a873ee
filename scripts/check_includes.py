#!/usr/bin/env python3
"""Checks that includes between the folders of the tree go down the floors.

Every folder stands on a floor; its files may include headers of its own
folder and of folders on lower floors only, so the includes between folders
can never form a cycle. The build enforces what each library links; this
check keeps the floors themselves from drifting (a library given a higher
one as a dependency would build, and fail here).

usage: check_includes.py SOURCE_DIR [--graph]
  --graph  prints which folder includes which, floor by floor
"""
import pathlib
import re
import sys

# Lowest first. Folders on one floor may not include each other.
FLOORS = [
    ["base"],
    ["format", "platform"],
    ["config"],
    ["data/engine"],
    ["data"],
    ["console"],
    ["app", "tools/kitprint", "tools/kitdata"],
    # The suite's build tools (their tests read the installed files with the
    # readers of every floor), then the tests, benchmarks and fuzz targets.
    ["suite/tool"],
    ["tests", "bench", "fuzz"],
]

# Headers that live in one folder and belong to another library: the record
# manager's entry point sits beside the data layer that calls it.
OWNER_OF_HEADER = {"data/btrcall.h": "data/engine"}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def folder_of(path, folders):
    """The folder a project path belongs to: the longest folder prefix."""
    best = None
    for folder in folders:
        if path == folder or path.startswith(folder + "/"):
            if best is None or len(folder) > len(best):
                best = folder
    return best


def main(argv):
    root = pathlib.Path(argv[1])
    floor_of = {folder: level for level, floor in enumerate(FLOORS) for folder in floor}
    folders = list(floor_of)
    edges = {}
    faults = []
    for source in sorted(root.rglob("*")):
        if source.suffix not in (".cpp", ".h", ".inc") or "build" in source.relative_to(root).parts[:1]:
            continue
        relative = source.relative_to(root).as_posix()
        where = folder_of(relative, folders)
        if where is None:
            continue
        for included in INCLUDE.findall(source.read_text(encoding="utf-8", errors="replace")):
            owner = OWNER_OF_HEADER.get(included) or folder_of(included, folders)
            if owner is None or owner == where:
                continue
            edges.setdefault(where, set()).add(owner)
            if floor_of[owner] >= floor_of[where]:
                faults.append(f"{relative}: includes \"{included}\" of {owner}, "
                              f"which is not on a lower floor than {where}")
    if "--graph" in argv:
        for floor in FLOORS:
            for folder in floor:
                print(f"{folder} -> {', '.join(sorted(edges.get(folder, ()), key=lambda f: floor_of[f]))}")
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
