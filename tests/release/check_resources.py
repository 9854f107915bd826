"""Checks the resources compiled into Halvenor.exe against the texts it must show and the terms file.

Usage: check_resources.py Halvenor.exe res/license.txt
       check_resources.py --header shown_texts.h

Every text the program shows is held here once, as a literal: the string table, the dialog
template and the version block. The icon is held as a person sees it: each size there, the
corners showing the desktop through the mask and the centre drawn. The second form writes the
texts as they appear on screen into a C++ header for the end-to-end driver, so that both
checks compare with the same words.
Prints every mismatch as actual against expected and exits 1 if there is any.
"""
import struct
import sys

ENGLISH_US = 0x0409
RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION = 3, 5, 6, 14, 16
# The string table by id, each text as the program must show it, to the blank and the line
# feed: two blanks between sentences, \n a bare line feed.
STRINGS = {
    1: "OEMNAME Halvenor",
    2: "This registry update is not applicable for the operating system installed on this computer.  "
       "Click 'OK' to exit.",
    4: "Support is currently enabled for 48-bit Logical Block Addressing (LBA) for ATAPI disk drives.  "
       "You do not need to run this registry update.  Click 'OK' to exit.",
    6: "This registry update will enable 48-bit Logical Block Addressing (LBA) support for ATAPI disk drives.  "
       "This support is necessary to enable access to the full capacity of an ATAPI disk drive larger than "
       "137 gigabytes (GB).\n\nClick 'Yes' to enable 48-bit LBA support.  After support has been enabled, "
       "you must restart your computer.\n\nClick 'No' to exit without enabling 48-bit LBA support.",
    8: "48-bit LBA support has been successfully enabled.  To complete this registry update, your computer "
       "must be restarted.  Would you like to restart now?",
    9: "Reboot",
    11: "Unable to create the necessary registry entry.  Click 'OK' to exit.",
    12: "Error",
    13: "Please read the license agreement in its entirety.\n\nYou must agree to the terms of the license "
        "before you can run the OEMNAME Halvenor.",
}
# The version block's strings for English (United States), Unicode.
VERSION_STRINGS = {
    "CompanyName": "Torvane",
    "FileDescription": "Halvenor",
    "FileVersion": "1.00.03.01",
    "InternalName": "Halvenor",
    "LegalCopyright": "Copyright (C) Torvane",
    "OriginalFilename": "Halvenor.exe",
    "ProductName": "Halvenor",
    "ProductVersion": "1.00.03",
}
# The brand token the stored texts carry, and the name the program shows in its place.
BRAND = ("OEMNAME", "Torvane")
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


def check_strings(resources):
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
    expect("ids with text", sorted(actual), sorted(STRINGS))
    for sid, wanted in STRINGS.items():
        expect(f"string {sid}", actual.get(sid), wanted)


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


def icon_pixel(image, x, y):
    """(mask bit, colour as R, G, B) of the 16-colour icon image at x, y from its top left."""
    header, width, double_height = struct.unpack_from("<Iii", image)
    height = double_height // 2
    xor_stride, and_stride = (width * 4 + 31) // 32 * 4, (width + 31) // 32 * 4
    xor = header + 16 * 4
    row = height - 1 - y  # rows are stored from the bottom up
    byte = image[xor + row * xor_stride + x // 2]
    colour = byte >> 4 if x % 2 == 0 else byte & 0xF
    blue, green, red = image[header + colour * 4:header + colour * 4 + 3]
    mask = image[xor + height * xor_stride + row * and_stride + x // 8] >> (7 - x % 8) & 1
    return mask, (red, green, blue)


def check_icon(resources):
    group = only_english(resources, (RT_GROUP_ICON, 102))
    if group is None:
        return
    reserved, kind, count = struct.unpack_from("<HHH", group)
    expect("icon group header (reserved, type)", (reserved, kind), (0, 1))
    entries = [struct.unpack_from("<BBBBHHIH", group, 6 + 14 * index) for index in range(count)]
    expect("icon entries (width, height, colours, planes, bits, id)",
           [(width, height, colours, planes, bits, icon_id)
            for width, height, colours, _, planes, bits, _, icon_id in entries], [(32, 32, 16, 1, 4, 1)])
    for width, height, _, _, _, _, size, icon_id in entries:
        what = f"{width} x {height} icon"
        image = only_english(resources, (RT_ICON, icon_id)) or b""
        expect(f"{what} image size", len(image), size)
        if not expect(f"{what} image header (width, double height, planes, bits)",
                      struct.unpack_from("<iiHH", image, 4) if len(image) >= 16 else None, (width, 2 * height, 1, 4)):
            continue
        # Mask set over black leaves the desktop as it is; a clear mask shows the colour.
        for corner in [(0, 0), (width - 1, 0), (0, height - 1), (width - 1, height - 1)]:
            expect(f"{what} at {corner} (mask, colour)", icon_pixel(image, *corner), (1, (0, 0, 0)))
        expect(f"{what} mask at its centre", icon_pixel(image, width // 2, height // 2)[0], 0)


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
    strings = {key.decode(): value.decode() for key, value in tables.get(b"040904B0", {}).items()}
    for key in sorted(set(strings) | set(VERSION_STRINGS)):
        expect(f"version string {key}", strings.get(key), VERSION_STRINGS.get(key))
    expect("version translations", translations, ["0x0409 0x04b0"])
    # Explorer shows the strings, programs compare the numbers: each string's decimal parts must
    # be the leading parts of its number.
    for key, (high, low) in [("FileVersion", ("FileVersionMS", "FileVersionLS")),
                             ("ProductVersion", ("ProductVersionMS", "ProductVersionLS"))]:
        if fixed and key in strings:
            high, low = getattr(fixed, high), getattr(fixed, low)
            numbers = (high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF)
            parts = tuple(int(part) for part in strings[key].split("."))
            expect(f"fixed version against the {key} string", numbers[:len(parts)], parts)


def c_literal(text):
    escapes = {"\\": "\\\\", '"': '\\"', "\n": "\\n"}
    return '"' + "".join(escapes.get(c, c) for c in text) + '"'


def write_header(path):
    token, name = BRAND
    lines = ["// The texts Halvenor shows, with its brand name in place of the token: written by",
             "// tests/release/check_resources.py --header from the literals the binary check holds.",
             "#pragma once", "", "struct ShownText {", "    unsigned id;", "    const char* text;", "};", "",
             "constexpr ShownText kShownStrings[] = {"]
    lines += [f"    {{{sid}, {c_literal(text.replace(token, name))}}}," for sid, text in sorted(STRINGS.items())]
    lines += ["};", "", f"constexpr char kAgreeLabel[] = {c_literal(CONTROLS[0]['text'])};",
              f"constexpr char kDisagreeLabel[] = {c_literal(CONTROLS[1]['text'])};", ""]
    with open(path, "w", encoding="ascii") as f:
        f.write("\n".join(lines))


def main(exe_path, license_path):
    # Only the check reads an image: writing the header at build time needs nothing but Python.
    import pefile

    pe = pefile.PE(exe_path)
    resources = read_resources(pe)
    expect("resources in the image", sorted(resources, key=str),
           sorted([(RT_ICON, 1), (RT_DIALOG, 103), (RT_STRING, 1), (RT_GROUP_ICON, 102), (RT_VERSION, 1),
                   ("TXT", "IDR_LICENSE")], key=str))
    checks = [lambda: check_strings(resources),
              lambda: check_dialog(resources),
              lambda: check_terms(resources, license_path),
              lambda: check_icon(resources),
              lambda: check_version(pe, resources)]
    for check in checks:
        try:
            check()
        except (struct.error, IndexError, UnicodeDecodeError, ValueError) as error:
            failures.append(f"malformed resource data ({error})")
    for failure in failures:
        print("FAIL", failure)
    print(f"{exe_path}: {len(failures)} resource mismatch(es)" if failures else f"{exe_path}: resources as built")
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--header":
        write_header(sys.argv[2])
    elif len(sys.argv) == 3:
        sys.exit(main(*sys.argv[1:]))
    else:
        sys.exit(__doc__)
