"""Checks the resources compiled into Halvenor.exe against the texts it must show and the terms file.

Usage: check_resources.py Halvenor.exe res/license.txt
       check_resources.py --header shown_texts.h

Every text the program shows is held here once, as a literal: the string table, the dialog
template and the version block. The second form writes the texts as they appear on screen
into a C++ header for the end-to-end driver, so that both checks compare with the same words.
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


def c_literal(text):
    escapes = {"\\": "\\\\", '"': '\\"', "\n": "\\n"}
    return '"' + "".join(escapes.get(c, c) for c in text) + '"'


def write_header(path):
    token, name = BRAND
    lines = ["// The texts Halvenor shows, with its brand name in place of the token: written by",
             "// tests/binary/check_resources.py --header from the literals the binary check holds.",
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
        except (struct.error, IndexError, UnicodeDecodeError) as error:
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
