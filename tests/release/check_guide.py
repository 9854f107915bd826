"""Checks the end users' guide against the program it is shipped with.

Usage: check_guide.py Halvenor.exe release/guide.txt

The guide tells the person at the machine which registry value to look for and how to undo
it, so its key, value name and version must be those of the built program. It is read in
Notepad on Windows 2000, whatever the code page: plain ASCII, short lines.
"""
import sys

import pefile

KEY = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Atapi\\Parameters"
VALUE = "EnableBigLba"
MAX_LINE = 78


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
    for what, text in (("key", KEY), ("value name", VALUE), ("version", version), ("regedit", "regedit")):
        if text not in guide:
            problems.append(f"the guide does not name the {what} {text!r}")
    for number, line in enumerate(guide.splitlines(), 1):
        if not line.isascii():
            problems.append(f"guide line {number} is not plain ASCII: {line!r}")
        if len(line) > MAX_LINE:
            problems.append(f"guide line {number} has {len(line)} characters, more than {MAX_LINE}: {line!r}")
    return problems


def main(argv):
    image, guide_path = argv[1:3]
    with open(image, "rb") as f:
        image_bytes = f.read()
    with open(guide_path, "rb") as f:
        guide = f.read().decode("ascii", "replace")
    problems = check(image_bytes, file_version(pefile.PE(data=image_bytes)), guide)
    for problem in problems:
        print(f"{guide_path}: {problem}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
