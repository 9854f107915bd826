"""Checks the end users' guide and the .reg files against the program they are shipped with.

Usage: check_guide.py Halvenor.exe release/guide.txt res/license.txt release/EnableBigLba.reg
                      release/RemoveBigLba.reg

The guide tells the person at the machine which registry value to look for and how to undo
it, so its key, value name and version must be those of the built program, and the image
files it names those that scripts/package makes of it. It also keeps the sections on what the
program cannot see: the conditions before, where to run it from, Windows 7 and what to check
after the restart. It is read in Notepad on Windows 2000, whatever the code page: plain ASCII,
short lines.

Whether the data on a large disk survives depends on a few facts that the guide and the terms
state in words: the service packs, driver versions and articles Microsoft names, the key, and
the warnings. No run of the program shows them, so they are held here, each written once, and
neither text may state another service pack for the same Windows or another driver build, nor
again what it once stated wrongly.

The .reg files set and remove that same value through Registry Editor. They are REGEDIT4
files, plain ANSI text that Windows 2000 and XP read as older Windows do: the header, the
program's key and one line for its value, nothing else. That Registry Editor turns them into
exactly the program's change is shown under Wine by the end-to-end run.
"""
import os
import re
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
# The first service pack with which each Windows supports 48-bit LBA (Knowledge Base articles
# 305098 and 303013), and the first build of Atapi.sys that Microsoft names for it.
SERVICE_PACK = {"Windows 2000": 3, "Windows XP": 1}
ATAPI_BUILD = {"5.0.2195": 4529, "5.1.2600": 1135}
GUIDE, TERMS = "guide", "terms"
# Each text as the person reads it, line breaks taken as blanks, and where it must stand.
FACTS = [
    (GUIDE, f"Windows 2000 (Knowledge Base article 305098): - Service Pack {SERVICE_PACK['Windows 2000']} "
            "or later."),
    (GUIDE, f"Windows XP (Knowledge Base article 303013): - Service Pack {SERVICE_PACK['Windows XP']} "
            "or later."),
    (GUIDE, f"Windows 2000 with Service Pack {SERVICE_PACK['Windows 2000']} or later, and Windows XP with "
            f"Service Pack {SERVICE_PACK['Windows XP']} or later."),
    (GUIDE, f"Windows 98 and Windows 2000 before Service Pack {SERVICE_PACK['Windows 2000']} (Knowledge Base "
            "article 305098) and Windows XP without a service pack (Knowledge Base article 303013);"),
    (GUIDE, "Atapi.sys, the Windows driver for IDE disks, of version 5.0.2195.4529 or later."),
    (GUIDE, "Atapi.sys of version 5.1.2600.1135 or later. If yours is older, install the fix described "
            "in Knowledge Base article 331958 first."),
    (GUIDE, ", ".join(KEY.split("\\")) + "."),
    (GUIDE, "Do not undo it while data is stored beyond the first 137 GB of a large disk: on Windows 2000, "
            "removing the value makes Windows 2000 itself a system without 48-bit LBA support, whose writes can "
            "overwrite the data on the disk"),
    (GUIDE, f"On Windows XP with Service Pack {SERVICE_PACK['Windows XP']} or later, support stays on, since it is "
            "on there by default (Knowledge Base article 303013);"),
    (GUIDE, f"Only computers with Windows 2000 Service Pack {SERVICE_PACK['Windows 2000']} or later need the value; "
            f"Windows XP with Service Pack {SERVICE_PACK['Windows XP']} or later does not"),
    (GUIDE, "let only systems with 48-bit LBA support write to it."),
    (GUIDE, "Do not boot such a system on this computer, as a second system on the same disk or from "
            "another disk, and do not move the disk to a computer that runs one."),
    (TERMS, f"setting one registry value, {VALUE}, to 1 under {KEY}."),
    (TERMS, f"Halvenor makes the change only on Windows 2000 with Service Pack "
            f"{SERVICE_PACK['Windows 2000']} or later, on Windows XP with Service Pack "
            f"{SERVICE_PACK['Windows XP']} or later,"),
    (TERMS, f"on Windows XP with Service Pack {SERVICE_PACK['Windows XP']} or later the support stays on"),
    (TERMS, "Do not undo it while data is stored beyond the first 137 gigabytes of a disk: Windows 2000 without the "
            "value is itself a system without 48-bit LBA support."),
    (TERMS, f"do not let a system without 48-bit LBA support, such as Windows 98, Windows 2000 "
            f"before Service Pack {SERVICE_PACK['Windows 2000']} or Windows XP without a service pack, "
            "write to that disk, on this computer or on another: its writes can wrap around to the front of the "
            "disk's file system and overwrite the data there."),
]
# Said once, and misleading: the danger of undoing is not that Windows 2000 cannot reach the data
# beyond the limit but that, a system without 48-bit LBA again, it writes over the start of the disk.
REFUTED = [(GUIDE, "cannot reach"), (TERMS, "cannot reach")]
# "Windows 2000 ... Service Pack n" within one sentence, with no other Windows named between.
STATED_SERVICE_PACK = re.compile(r"(Windows (?:2000|XP))\b(?:(?!Windows|\.\s).)*?\bService Pack (\d+)")
STATED_ATAPI_BUILD = re.compile(r"\b(5\.[01]\.2[16]\d\d)\.(\d+)")


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


def check_facts(texts):
    """texts: {GUIDE: ..., TERMS: ...}, each with its line breaks taken as blanks."""
    problems = []
    for where, fact in FACTS:
        if fact not in texts[where]:
            problems.append(f"the {where} text no longer states {fact!r}")
    for where, wrong in REFUTED:
        if wrong in texts[where]:
            problems.append(f"the {where} text states {wrong!r} again")
    for where, text in texts.items():
        for match in STATED_SERVICE_PACK.finditer(text):
            if int(match.group(2)) != SERVICE_PACK[match.group(1)]:
                problems.append(f"the {where} text states Service Pack {match.group(2)} for {match.group(1)}, "
                                f"not {SERVICE_PACK[match.group(1)]}: {match.group(0)!r}")
        for match in STATED_ATAPI_BUILD.finditer(text):
            if ATAPI_BUILD.get(match.group(1), int(match.group(2))) != int(match.group(2)):
                problems.append(f"the {where} text names Atapi.sys {match.group(0)}, not "
                                f"{match.group(1)}.{ATAPI_BUILD[match.group(1)]}")
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
    args = argv[1:]
    if len(args) < 3 or sorted(os.path.basename(path) for path in args[3:]) != sorted(REG_DATA):
        print(f"usage: check_guide.py Halvenor.exe guide.txt license.txt {' '.join(sorted(REG_DATA))}")
        return 2
    image, guide_path, terms_path, *reg_paths = args
    with open(image, "rb") as f:
        image_bytes = f.read()
    with open(guide_path, "rb") as f:
        guide = f.read().decode("ascii", "replace")
    with open(terms_path, "rb") as f:
        terms = f.read().decode("ascii", "replace")
    reports = [(guide_path, check(image_bytes, file_version(pefile.PE(data=image_bytes)), guide))]
    reports.append((f"{guide_path}, {terms_path}",
                    check_facts({GUIDE: " ".join(guide.split()), TERMS: " ".join(terms.split())})))
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
