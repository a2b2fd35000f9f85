#!/usr/bin/env python3
"""Checks that the plug-in's ray code does its floating-point arithmetic in
SSE2, not on the x87 unit.

The game's thread runs with the x87 precision control at 24 bits (Direct3D 9
sets it when the game creates its device), so x87 arithmetic there is float
arithmetic whatever the type says. Moves on the x87 stack (fld, fstp) stay:
the 32-bit calling convention returns a double in st(0).

    check-sse-arithmetic.py OBJDUMP DLL

Disassembles DLL, picks every function of the ray path (Bullet's ray tests
and triangle ray callback, the plug-in's ray result callback) and prints each
x87 arithmetic instruction found in them. Exit 0 when there is none, 1 when
there is, 2 when the ray path's functions are not all there (a check that
finds nothing to look at must not pass).
"""
import re
import subprocess
import sys

# Functions of the ray path, by demangled name.
RAY_PATH = [
    r"^btCollisionWorld::rayTest\(",
    r"^btCollisionWorld::rayTestSingleInternal\(",
    r"^btSingleRayCallback::process\(",
    r"^btBvhTriangleMeshShape::performRaycast\(",
    r"^btQuantizedBvh::reportRayOverlappingNodex\(",
    r"^btQuantizedBvh::walkStacklessQuantizedTreeAgainstRay\(",
    r"^btTriangleRaycastCallback::processTriangle\(",
    r"::MyNodeOverlapCallback::processNode\(",
    r"^BulletCol::CustomRayResultCallback::addSingleResult\(",
]
# x87 instructions that compute (as opposed to load, store or exchange).
ARITHMETIC = re.compile(
    r"\bf(i?(add|sub|subr|mul|div|divr)p?|sqrt|prem1?|rndint|scale|abs|chs|u?comi?p{0,2}|icomp?|tst|"
    r"sin|cos|sincos|ptan|patan|2xm1|yl2xp?1?|xtract)\b"
)
HEADER = re.compile(r"^[0-9a-f]+ <(.*)>:$")


def main():
    objdump, dll = sys.argv[1], sys.argv[2]
    listing = subprocess.run([objdump, "-d", "-C", "--no-show-raw-insn", dll], check=True,
                             capture_output=True, text=True).stdout
    patterns = [re.compile(p) for p in RAY_PATH]
    seen = {p.pattern: 0 for p in patterns}
    current, inside, found = None, False, []
    for line in listing.splitlines():
        header = HEADER.match(line)
        if header:
            current = header.group(1)
            inside = False
            for pattern in patterns:
                if pattern.search(current):
                    seen[pattern.pattern] += 1
                    inside = True
            continue
        if inside and "\t" in line:
            instruction = line.split("\t", 1)[1].strip()
            if ARITHMETIC.match(instruction):
                found.append(f"{current}: {instruction}")
    missing = [p for p, n in seen.items() if n == 0]
    if missing:
        print("check-sse-arithmetic: functions of the ray path not found in " + dll + ": " + ", ".join(missing))
        return 2
    for entry in found:
        print(entry)
    print(f"check-sse-arithmetic: {sum(seen.values())} functions of the ray path, "
          f"{len(found)} x87 arithmetic instructions")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
