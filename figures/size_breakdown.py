"""What takes the space in Halvenor.exe, from the linker's map and the image itself.

Usage: size_breakdown.py Halvenor.exe Halvenor.map

Prints the file size, the size of each section in the file, and the bytes each part of the
program brings in (code, data and unwind tables as the linker placed them), largest first.
"""
import collections
import os
import re
import sys

import pefile

# Input files of the map, by what they are for; the first match wins.
PARTS = [
    ("Halvenor's own C run-time and start-up", r"c_runtime\.cpp\.obj"),
    ("Halvenor's own C++ run-time: std::string, new and delete", r"cxx_runtime\.cpp\.obj"),
    ("Halvenor's own code", r"objects\.a\(.*\.obj\)|\.cpp\.obj$"),
    ("resources (terms text, dialog, strings, icon, version)", r"\.res\)?$"),
    ("libstdc++", r"libstdc\+\+\.a\("),
    ("libgcc", r"libgcc(_eh)?\.a\("),
    ("import tables", r"lib(kernel32|user32|advapi32)\.a\(lib\w+[sht]\d*\.o\)|dll stuff"),
]


def map_contributions(map_text):
    """Bytes per input file, over the sections that reach the image."""
    lines = map_text.split("\n")
    start = next(i for i, line in enumerate(lines) if line.startswith("Linker script and memory map"))
    sizes = collections.Counter()
    pending = None
    for line in lines[start:]:
        whole = re.match(r"^ (\.\S+)\s+(0x[0-9a-f]+)\s+(0x[0-9a-f]+)\s+(\S.*)$", line)
        name_only = re.match(r"^ (\.\S+)\s*$", line)
        rest = re.match(r"^\s+(0x[0-9a-f]+)\s+(0x[0-9a-f]+)\s+(\S.*)$", line)
        if whole:
            section, size, source = whole.group(1), whole.group(3), whole.group(4)
        elif name_only:
            pending = name_only.group(1)
            continue
        elif rest and pending:
            section, size, source = pending, rest.group(2), rest.group(3)
        else:
            pending = None
            continue
        pending = None
        if section.startswith((".debug", ".stab")) or not re.search(r"\.(o|obj|res)\)?$|dll stuff", source):
            continue
        sizes[os.path.basename(source)] += int(size, 16)
    return sizes


def part_of(source):
    return next((part for part, pattern in PARTS if re.search(pattern, source)), "other")


def main(argv):
    image, map_path = argv[1:3]
    pe = pefile.PE(image)
    print(f"Halvenor.exe: {os.path.getsize(image)} bytes ({os.path.getsize(image) / 1024:.1f} KiB)")
    print("sections in the file:")
    for section in pe.sections:
        name = section.Name.rstrip(b"\0").decode("ascii", "replace")
        print(f"  {name:10} {section.SizeOfRawData:7} bytes")
    with open(map_path, encoding="utf-8", errors="replace") as f:
        sizes = map_contributions(f.read())
    parts = collections.Counter()
    for source, size in sizes.items():
        parts[part_of(source)] += size
    print("what the linker placed, by part (before section alignment):")
    for part, size in parts.most_common():
        print(f"  {size:7} bytes  {part}")
    print("largest single inputs:")
    for source, size in sizes.most_common(8):
        print(f"  {size:7} bytes  {source}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
