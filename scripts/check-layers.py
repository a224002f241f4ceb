#!/usr/bin/env python3
"""Fails when an include points up the layers or sideways into a cycle.

Each folder of src/ is a build target, and core/ is itself layered. A file may include
headers of its own folder and of the folders its layer lists below; anything else is
reported with the file and line. Run from anywhere: scripts/check-layers.py
"""
import pathlib
import re
import sys

# The folders each folder's code may include, besides its own. Within core/, the order is
# base, then the interfaces to the desktop, then the logic that builds on them.
ALLOWED = {
    "core/base": set(),
    "core/desktop": {"core/base"},
    "core/speech": {"core/base", "core/desktop"},
    "core/text": {"core/base", "core/desktop"},
    "core/hud": {"core/base", "core/desktop"},
    "core/insert": {"core/base", "core/desktop", "core/hud"},
    "core/transcripts": {"core/base", "core/desktop", "core/speech", "core/text"},
    "core/dictation": {"core/base", "core/desktop", "core/speech", "core/text", "core/hud",
                       "core/insert", "core/transcripts"},
    "platform": {"core"},
    "gui": {"core"},
    "shell": {"core", "gui", "platform"},
    "cli": {"core", "platform", "shell"},
    "app": {"core", "platform", "gui", "shell", "cli"},
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def folder_of(path: str) -> str | None:
    """The layer a source path (relative to src/) belongs to: core's subfolder or a top folder."""
    parts = path.split("/")
    if parts[0] == "core" and len(parts) > 2:
        return "/".join(parts[:2])
    return parts[0] if parts[0] in ALLOWED else None


def allows(owner: str, target: str) -> bool:
    if owner == target or owner.split("/")[0] == target.split("/")[0] != "core":
        return True
    return any(target == a or target.startswith(a + "/") for a in ALLOWED[owner])


def main() -> int:
    src = pathlib.Path(__file__).resolve().parent.parent / "src"
    faults = []
    for file in sorted(src.rglob("*")):
        if file.suffix not in {".h", ".cpp"}:
            continue
        owner = folder_of(file.relative_to(src).as_posix())
        if owner is None:
            faults.append(f"{file.relative_to(src)}: in no known folder")
            continue
        for number, line in enumerate(file.read_text().splitlines(), 1):
            match = INCLUDE.match(line)
            if not match or not (src / match.group(1)).exists():
                continue
            target = folder_of(match.group(1))
            if target is not None and not allows(owner, target):
                faults.append(f"src/{file.relative_to(src)}:{number}: {owner} may not include {match.group(1)}")
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
