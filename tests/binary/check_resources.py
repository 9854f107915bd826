"""Checks the resources compiled into Halvenor.exe against the resource script and the terms file.

Usage: check_resources.py Halvenor.exe res/halvenor.rc res/resource.h
The string texts are taken from the script itself; the terms from license.txt beside it.
Prints every mismatch as actual against expected and exits 1 if there is any.
"""
import os
import re
import struct
import sys

import pefile

ENGLISH_US = 0x0409
RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION = 3, 5, 6, 14, 16
STRING_IDS = [1, 2, 4, 6, 8, 9, 11, 12, 13]
# The agreement dialog's own layout: id, class atom, text, x, y, cx, cy, style.
DIALOG = dict(style=0x80C800C0, exstyle=0, x=0, y=0, cx=321, cy=259, menu=None, cls=None,
              caption="License Agreement", font=(8, "MS Sans Serif"))
CONTROLS = [
    dict(id=1000, cls=0x0080, text="I &Agree", rect=(70, 238, 50, 14), style=0x50010000, exstyle=0),
    dict(id=1001, cls=0x0080, text="I &Disagree", rect=(191, 238, 50, 14), style=0x50010000, exstyle=0),
    dict(id=1002, cls=0x0081, text="", rect=(7, 50, 307, 173), style=0x50A10844, exstyle=0),
    dict(id=1003, cls=0x0082, text="", rect=(7, 7, 307, 37), style=0x50020000, exstyle=0),
]

failures = []


def expect(what, actual, expected):
    if actual != expected:
        failures.append(f"{what}: actual {actual!r}, expected {expected!r}")
    return actual == expected


def read_resources(pe):
    """{(type, name): {language: bytes}}; names and types are ints or strings."""
    found = {}
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for kind in root.entries if root else []:
        for name in kind.directory.entries:
            for lang in name.directory.entries:
                key = (str(kind.name) if kind.name else kind.id, str(name.name) if name.name else name.id)
                rva, size = lang.data.struct.OffsetToData, lang.data.struct.Size
                found.setdefault(key, {})[lang.id] = pe.get_data(rva, size)
    return found


def only_english(resources, key):
    langs = resources.get(key, {})
    if expect(f"languages of resource {key}", sorted(langs), [ENGLISH_US]):
        return langs[ENGLISH_US]
    return None


def unescape(text):
    escapes = {"n": "\n", "r": "\r", "t": "\t", "a": "\a", "\\": "\\", '"': '"', "'": "'"}

    def one(m):
        e = m.group(0)
        if e == '""':
            return '"'
        if e[1] in "xX":
            return chr(int(e[2:], 16))
        if e[1].isdigit():
            return chr(int(e[1:], 8))
        return escapes.get(e[1], e)

    return re.sub(r'""|\\[xX][0-9a-fA-F]{1,4}|\\[0-7]{1,3}|\\.', one, text)


def script_strings(rc_path, header_path):
    with open(header_path) as f:
        ids = {m[0]: int(m[1]) for m in re.findall(r"#define\s+(\w+)\s+(\d+)", f.read())}
    with open(rc_path) as f:
        block = re.search(r"^STRINGTABLE\s*\nBEGIN\n(.*?)^END", f.read(), re.S | re.M).group(1)
    texts = {}
    for name, quoted in re.findall(r'^\s*(\w+)\s*"((?:[^"]|"")*)"\s*$', block, re.M):
        if expect(f"{name} defined in {header_path}", name in ids, True):
            texts[ids[name]] = unescape(quoted)
    return texts


def check_strings(resources, expected):
    expect("string ids in the script", sorted(expected), STRING_IDS)
    blocks = sorted(name for kind, name in resources if kind == RT_STRING)
    expect("string-table blocks", blocks, [1])
    data = only_english(resources, (RT_STRING, 1))
    if data is None:
        return
    actual, at = {}, 0
    for index in range(16):
        (length,) = struct.unpack_from("<H", data, at)
        text = data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
        at += 2 + 2 * length
        if length:
            actual[index] = text
    expect("bytes after the sixteen entries of block 1", len(data) - at, 0)
    expect("ids with text", sorted(actual), STRING_IDS)
    for sid in STRING_IDS:
        text = actual.get(sid, "")
        expect(f"string {sid} has no CR", "\r" in text, False)
        expect(f"string {sid}", text, expected.get(sid))


def check_dialog(resources):
    data = only_english(resources, (RT_DIALOG, 103))
    if data is None:
        return
    if not expect("dialog 103 is a classic DLGTEMPLATE (not DLGTEMPLATEEX)", data[2:4] != b"\xff\xff", True):
        return
    at = 0

    def take(fmt):
        nonlocal at
        values = struct.unpack_from(fmt, data, at)
        at += struct.calcsize(fmt)
        return values

    def text():
        nonlocal at
        end = at
        while data[end:end + 2] != b"\0\0":
            end += 2
        value, at = data[at:end].decode("utf-16-le"), end + 2
        return value

    def text_or_atom():
        (first,) = struct.unpack_from("<H", data, at)
        if first == 0xFFFF:
            return take("<HH")[1]
        if first == 0:
            take("<H")
            return None
        return text()

    style, exstyle, count, x, y, cx, cy = take("<IIHhhhh")
    header = dict(style=style, exstyle=exstyle, x=x, y=y, cx=cx, cy=cy, menu=text_or_atom(), cls=text_or_atom(),
                  caption=text(), font=(take("<H")[0], text()) if style & 0x40 else None)
    for key, value in DIALOG.items():
        expect(f"dialog 103 {key}", header[key], value)
    expect("dialog 103 item count", count, len(CONTROLS))
    for index in range(count):
        at = (at + 3) & ~3
        style, exstyle, x, y, cx, cy, cid = take("<IIhhhhH")
        item = dict(id=cid, cls=text_or_atom(), text=text_or_atom() or "", rect=(x, y, cx, cy), style=style,
                    exstyle=exstyle)
        (extra,) = take("<H")
        at += extra
        wanted = CONTROLS[index] if index < len(CONTROLS) else {}
        for key in item:
            expect(f"dialog 103 item {index} {key}", item[key], wanted.get(key))
        if cid in (1000, 1001):
            expect(f"button {cid} is not BS_DEFPUSHBUTTON", style & 0xF, 0)


def check_terms(resources, license_path):
    expect("TXT resources", sorted(name for kind, name in resources if kind == "TXT"), ["IDR_LICENSE"])
    data = only_english(resources, ("TXT", "IDR_LICENSE"))
    if data is None:
        return
    with open(license_path, "rb") as f:
        wanted = f.read().replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
    expect("terms are not empty", len(data) > 0, True)
    expect("zero bytes in the terms", data.count(b"\0"), 0)
    bare = data.replace(b"\r\n", b"")
    expect("bare LF or CR in the terms", bare.count(b"\n") + bare.count(b"\r"), 0)
    if data != wanted:
        first = next((i for i, (a, b) in enumerate(zip(data, wanted)) if a != b), min(len(data), len(wanted)))
        failures.append(f"terms differ from {license_path} at byte {first}: actual "
                        f"{data[first:first + 40]!r}, expected {wanted[first:first + 40]!r} "
                        f"(sizes {len(data)} and {len(wanted)})")


def check_icon(resources):
    group = only_english(resources, (RT_GROUP_ICON, 102))
    if group is None:
        return
    expect("icon group header (reserved, type, count)", struct.unpack_from("<HHH", group), (0, 1, 1))
    width, height, colours, _, planes, bits, size, icon_id = struct.unpack_from("<BBBBHHIH", group, 6)
    expect("icon entry (width, height, colours, planes, bits, id)", (width, height, colours, planes, bits, icon_id),
           (32, 32, 16, 1, 4, 1))
    image = only_english(resources, (RT_ICON, 1)) or b""
    expect("icon image size", len(image), size)
    expect("icon image header (width, double height, planes, bits)",
           struct.unpack_from("<iiHH", image, 4) if len(image) >= 16 else None, (32, 64, 1, 4))


def check_version(pe, resources):
    only_english(resources, (RT_VERSION, 1))
    fixed = pe.VS_FIXEDFILEINFO[0] if getattr(pe, "VS_FIXEDFILEINFO", None) else None
    expect("fixed file and product versions",
           fixed and (fixed.FileVersionMS, fixed.FileVersionLS, fixed.ProductVersionMS, fixed.ProductVersionLS),
           (0x00010000, 0x00030001, 0x00010000, 0x00030001))
    tables, translations = {}, []
    for info in (pe.FileInfo[0] if getattr(pe, "FileInfo", None) else []):
        tables.update({t.LangID: t.entries for t in getattr(info, "StringTable", [])})
        translations += [v.entry.get(b"Translation") for v in getattr(info, "Var", [])]
    expect("version string tables", sorted(tables), [b"040904B0"])
    strings = tables.get(b"040904B0", {})
    for key, value in [(b"FileVersion", b"1.00.03.01"), (b"ProductVersion", b"1.00.03"),
                       (b"ProductName", b"Halvenor"), (b"FileDescription", b"Halvenor")]:
        expect(f"version string {key.decode()}", strings.get(key), value)
    expect("version translations", translations, ["0x0409 0x04b0"])


def main(exe_path, rc_path, header_path):
    pe = pefile.PE(exe_path)
    resources = read_resources(pe)
    expect("resources in the image", sorted(resources, key=str),
           sorted([(RT_ICON, 1), (RT_DIALOG, 103), (RT_STRING, 1), (RT_GROUP_ICON, 102), (RT_VERSION, 1),
                   ("TXT", "IDR_LICENSE")], key=str))
    checks = [lambda: check_strings(resources, script_strings(rc_path, header_path)),
              lambda: check_dialog(resources),
              lambda: check_terms(resources, os.path.join(os.path.dirname(rc_path), "license.txt")),
              lambda: check_icon(resources),
              lambda: check_version(pe, resources)]
    for check in checks:
        try:
            check()
        except (struct.error, IndexError, UnicodeDecodeError) as error:
            failures.append(f"malformed resource data ({error})")
    for failure in failures:
        print("FAIL", failure)
    print(f"{exe_path}: {len(failures)} resource mismatch(es)" if failures else f"{exe_path}: resources as built")
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
