"""Checks the end users' guide and the .reg files against the program they are shipped with.

Usage: check_guide.py Halvenor.exe release/guide.txt release/EnableBigLba.reg release/RemoveBigLba.reg

The guide tells the person at the machine which registry value to look for and how to undo
it, so its key, value name and version must be those of the built program, and the image
files it names those that scripts/package makes of it. It also keeps the sections on what the
program cannot see: the conditions before, where to run it from, Windows 7 and what to check
after the restart. It is read in Notepad on Windows 2000, whatever the code page: plain ASCII,
short lines.

The .reg files set and remove that same value through Registry Editor. They are REGEDIT4
files, plain ANSI text that Windows 2000 and XP read as older Windows do: the header, the
program's key and one line for its value, nothing else. That Registry Editor turns them into
exactly the program's change is shown under Wine by the end-to-end run.
"""
import os
import sys

import pefile

KEY = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Atapi\\Parameters"
VALUE = "EnableBigLba"
MAX_LINE = 78
# The data each .reg file gives the value: REG_DWORD 1, or "-", which removes the value only.
REG_DATA = {"EnableBigLba.reg": "dword:00000001", "RemoveBigLba.reg": "-"}
# What the person at the machine must read besides the steps: the conditions, where to keep the
# program, how Windows 7 must start it and what to look at after the restart.
SECTIONS = ["BEFORE YOU START", "WHERE TO RUN IT FROM", "WINDOWS 7", "AFTER THE RESTART"]


def file_version(pe):
    fixed = pe.VS_FIXEDFILEINFO[0]
    return "%d.%d.%d.%d" % (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
                            fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF)


def check(image_bytes, version, guide):
    problems = []
    subkey = KEY.split("\\", 1)[1]
    for what, text in (("key", subkey), ("value name", VALUE)):
        if text.encode("ascii") not in image_bytes:
            problems.append(f"the image does not hold the {what} {text!r}; the guide names it")
    names = [("key", KEY), ("value name", VALUE), ("version", version), ("regedit", "regedit")]
    names += [("file", name) for name in REG_DATA]
    names += [("image file", f"Halvenor-{version}.{kind}") for kind in ("iso", "img", "zip")]
    for what, text in names:
        if text not in guide:
            problems.append(f"the guide does not name the {what} {text!r}")
    for title in SECTIONS:
        if title not in guide.splitlines():
            problems.append(f"the guide has no section headed {title!r}")
    for number, line in enumerate(guide.splitlines(), 1):
        if not line.isascii():
            problems.append(f"guide line {number} is not plain ASCII: {line!r}")
        if len(line) > MAX_LINE:
            problems.append(f"guide line {number} has {len(line)} characters, more than {MAX_LINE}: {line!r}")
    return problems


def check_reg(name, text):
    problems = []
    if not text.isascii():
        problems.append(f"{name} is not plain ASCII")
    lines = [line for line in text.splitlines() if line.strip()]
    expected = ["REGEDIT4", f"[{KEY}]", f'"{VALUE}"={REG_DATA[name]}']
    if lines != expected:
        problems.append(f"{name} holds {lines!r}, not {expected!r}")
    # Registry Editor may pass over a last line that has no line break.
    if not text.endswith("\n"):
        problems.append(f"{name} does not end with a line break")
    return problems


def main(argv):
    image, guide_path, *reg_paths = argv[1:]
    if sorted(os.path.basename(path) for path in reg_paths) != sorted(REG_DATA):
        print(f"usage: check_guide.py Halvenor.exe guide.txt {' '.join(sorted(REG_DATA))}")
        return 2
    with open(image, "rb") as f:
        image_bytes = f.read()
    with open(guide_path, "rb") as f:
        guide = f.read().decode("ascii", "replace")
    reports = [(guide_path, check(image_bytes, file_version(pefile.PE(data=image_bytes)), guide))]
    for path in reg_paths:
        with open(path, "rb") as f:
            reports.append((path, check_reg(os.path.basename(path), f.read().decode("ascii", "replace"))))
    failed = False
    for path, problems in reports:
        for problem in problems:
            print(f"{path}: {problem}")
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
