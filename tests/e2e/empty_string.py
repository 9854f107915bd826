"""Writes a copy of Halvenor.exe whose string-table entry ID is empty, as a broken build
would have it.

Usage: empty_string.py Halvenor.exe ID copy.exe

A block of the string table holds 16 entries, each a length in UTF-16 units followed by its
text. The entry's length and those of the entries after it become 0, so they must have been
empty already: the block keeps its size and every other entry its bytes.
"""
import struct
import sys

import pefile

RT_STRING = 6


def main(argv):
    image, string_id, copy = argv[1], int(argv[2]), argv[3]
    pe = pefile.PE(image)
    block_id, index = string_id // 16 + 1, string_id % 16
    (block,) = [entry for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries if entry.id == RT_STRING]
    (language,) = [entry for entry in block.directory.entries if entry.id == block_id][0].directory.entries
    offset = pe.get_offset_from_rva(language.data.struct.OffsetToData)
    lengths = []
    at = offset
    for _ in range(16):
        (length,) = struct.unpack_from("<H", pe.__data__, at)
        lengths.append((at, length))
        at += 2 + 2 * length
    if lengths[index][1] == 0 or any(length for _, length in lengths[index + 1:]):
        sys.exit(f"{image}: entry {string_id} is empty or not the last in its block: {lengths}")
    data = bytearray(pe.__data__)
    start = lengths[index][0]
    data[start:start + 2 * (16 - index)] = bytes(2 * (16 - index))
    with open(copy, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main(sys.argv)
