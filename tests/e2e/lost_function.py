"""Writes a copy of Halvenor.exe that cannot find the KERNEL32 function NAME, which it looks up
with GetProcAddress, as on a Windows without it.

Usage: lost_function.py Halvenor.exe NAME copy.exe

The name's first letter changes case in the copy: GetProcAddress matches names exactly, and no
DLL exports the result.
"""
import sys


def main(argv):
    image, name, copy = argv[1], argv[2].encode("ascii"), argv[3]
    with open(image, "rb") as f:
        data = bytearray(f.read())
    # Preceded by a NUL too, so that a longer name ending in NAME does not count.
    needle = b"\0" + name + b"\0"
    if data.count(needle) != 1:
        sys.exit(f"{image}: the name {name.decode()} occurs {data.count(needle)} times, not once")
    at = data.index(needle) + 1
    data[at:at + 1] = data[at:at + 1].swapcase()
    with open(copy, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main(sys.argv)
