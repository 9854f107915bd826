"""Checks the PE headers of Halvenor.exe for what every Windows from 95 and NT 4.0 on needs
to start it.

Usage: check_header.py Halvenor.exe
       check_header.py --self-test Halvenor.exe

The subsystem version names the oldest Windows an image runs on, and the loader enforces it,
so both it and the OS version must be 4.0, the version of Windows 95 and NT 4.0. A GUI
program that carries a side-by-side manifest depends on the activation-context loader of XP,
and a section name longer than eight characters is stored as a reference into a COFF string
table that no Windows loader reads. Wine starts all of these, so only these checks notice.

DllCharacteristics holds exactly the ASLR flag (DYNAMIC_BASE, 0x0040): Microsoft's
/DYNAMICBASE reference says "ASLR is supported on Windows Vista and later operating systems.
The option is ignored by earlier operating systems." DEP's flag (NX_COMPAT) is not set: no
Microsoft source says that the loaders of Windows 95 and NT 4.0, which knew the field's bits
as reserved, ignore it. Nor is FORCE_INTEGRITY (0x0080, ld's --forceinteg): Microsoft's
/INTEGRITYCHECK reference says it "tells the memory manager to check for a digital signature
in order to load the image in Windows", which Vista and later do, so Windows 7 would refuse
the unsigned program.

With --self-test, patches each checked field of the real image and fails unless the patched
image is reported.
"""
import sys

import pefile

IMAGE_FILE_MACHINE_I386 = 0x014C
IMAGE_FILE_RELOCS_STRIPPED = 0x0001
IMAGE_FILE_EXECUTABLE_IMAGE = 0x0002
PE32_MAGIC = 0x010B
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
DYNAMIC_BASE = 0x0040
FORCE_INTEGRITY = 0x0080
NX_COMPAT = 0x0100
RT_MANIFEST = 24


def resource_types(pe):
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return []
    return [entry.id for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries]


def relocation_bytes(pe):
    return pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]].Size


def long_section_names(pe):
    """Names that do not fit the header's eight bytes are written as "/offset"."""
    return [section.Name.rstrip(b"\0").decode("ascii", "replace")
            for section in pe.sections if section.Name.startswith(b"/")]


def check(pe):
    """Every mismatch as 'field: actual, expected ...'."""
    file_header, optional = pe.FILE_HEADER, pe.OPTIONAL_HEADER
    checks = [
        ("machine", hex(file_header.Machine), hex(IMAGE_FILE_MACHINE_I386)),
        ("optional header magic (PE32)", hex(optional.Magic), hex(PE32_MAGIC)),
        ("executable image flag", bool(file_header.Characteristics & IMAGE_FILE_EXECUTABLE_IMAGE), True),
        ("subsystem", optional.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI),
        ("subsystem version", (optional.MajorSubsystemVersion, optional.MinorSubsystemVersion), (4, 0)),
        ("OS version", (optional.MajorOperatingSystemVersion, optional.MinorOperatingSystemVersion), (4, 0)),
        # Exactly the flags chosen: any other changes how some Windows loads the image.
        ("DllCharacteristics (ASLR only)", hex(optional.DllCharacteristics), hex(DYNAMIC_BASE)),
        # Without relocations an image cannot be moved, so the ASLR flag would be a promise only.
        ("relocations stripped", bool(file_header.Characteristics & IMAGE_FILE_RELOCS_STRIPPED), False),
        ("relocation table present", relocation_bytes(pe) > 0, True),
        ("side-by-side manifest resource", RT_MANIFEST in resource_types(pe), False),
        ("link timestamp", file_header.TimeDateStamp, 0),
        ("long section names", long_section_names(pe), []),
    ]
    return [f"{what}: {actual!r}, expected {expected!r}" for what, actual, expected in checks if actual != expected]


def patched(data, patch):
    pe = pefile.PE(data=data)
    patch(pe)
    return pefile.PE(data=bytes(pe.write()))


def self_test(data):
    def set_field(header, field, value):
        return lambda pe: setattr(getattr(pe, header), field, value)

    def set_flag(header, field, flag):
        return lambda pe: setattr(getattr(pe, header), field, getattr(getattr(pe, header), field) | flag)

    def clear_flag(header, field, flag):
        return lambda pe: setattr(getattr(pe, header), field, getattr(getattr(pe, header), field) & ~flag)

    def add_manifest(pe):
        pe.DIRECTORY_ENTRY_RESOURCE.entries[0].struct.Name = RT_MANIFEST

    faults = [
        ("x64 machine", set_field("FILE_HEADER", "Machine", 0x8664), "machine"),
        ("PE32+ magic", set_field("OPTIONAL_HEADER", "Magic", 0x020B), "magic"),
        ("console subsystem", set_field("OPTIONAL_HEADER", "Subsystem", 3), "subsystem:"),
        ("subsystem 5.1", set_field("OPTIONAL_HEADER", "MajorSubsystemVersion", 5), "subsystem version"),
        ("subsystem 4.1", set_field("OPTIONAL_HEADER", "MinorSubsystemVersion", 1), "subsystem version"),
        ("OS 5.1", set_field("OPTIONAL_HEADER", "MajorOperatingSystemVersion", 5), "OS version"),
        ("no ASLR", clear_flag("OPTIONAL_HEADER", "DllCharacteristics", DYNAMIC_BASE), "DllCharacteristics"),
        ("the DEP flag", set_flag("OPTIONAL_HEADER", "DllCharacteristics", NX_COMPAT), "DllCharacteristics"),
        ("the signature check (--forceinteg)", set_flag("OPTIONAL_HEADER", "DllCharacteristics", FORCE_INTEGRITY),
         "DllCharacteristics"),
        ("relocations stripped", set_flag("FILE_HEADER", "Characteristics", IMAGE_FILE_RELOCS_STRIPPED),
         "relocations stripped"),
        ("a manifest", add_manifest, "manifest"),
        ("a link timestamp", set_field("FILE_HEADER", "TimeDateStamp", 0x3A000000), "timestamp"),
        ("a long section name", lambda pe: setattr(pe.sections[-1], "Name", b"/4\0\0\0\0\0\0"), "section names"),
    ]
    failures = [f"real image: {p}" for p in check(pefile.PE(data=data))]
    for what, patch, mark in faults:
        problems = check(patched(data, patch))
        if not any(mark in p for p in problems):
            failures.append(f"{what} went unreported (problems: {problems})")
    return failures


def main(argv):
    testing = argv[1:2] == ["--self-test"]
    image = argv[2] if testing else argv[1]
    with open(image, "rb") as f:
        data = f.read()
    failures = self_test(data) if testing else check(pefile.PE(data=data))
    for failure in failures:
        print(f"{image}: {failure}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
