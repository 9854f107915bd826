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

Each section's rights are those its contents need and no more: a writable code section or an
executable data section is a place to plant code, and a data section without the write right
ends the program at its first write, before any window. The resource section stays writable
as Debian 12's windres and ld write it, so only its execute right is held. The relocations
are discardable, so that their pages are not kept once the loader has applied them.

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
SCN_EXECUTE, SCN_READ, SCN_WRITE, SCN_DISCARDABLE = 0x20000000, 0x40000000, 0x80000000, 0x02000000
# Section: (rights it must have, rights it must not have). Any other section is never executable.
SECTION_RIGHTS = {
    ".text": (SCN_READ | SCN_EXECUTE, SCN_WRITE),
    ".data": (SCN_READ | SCN_WRITE, SCN_EXECUTE),
    ".rdata": (SCN_READ, SCN_WRITE | SCN_EXECUTE),
    ".rsrc": (SCN_READ, SCN_EXECUTE),
    ".reloc": (SCN_READ | SCN_DISCARDABLE, SCN_WRITE | SCN_EXECUTE),
}


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


def section_rights(pe):
    """Each section whose rights differ from SECTION_RIGHTS, as name and flags; a missing one as None."""
    flags = {section.Name.rstrip(b"\0").decode("ascii", "replace"): section.Characteristics for section in pe.sections}
    wrong = {name: hex(flags[name]) if name in flags else None for name, (needed, refused) in SECTION_RIGHTS.items()
             if name not in flags or flags[name] & needed != needed or flags[name] & refused}
    wrong.update({name: hex(value) for name, value in flags.items()
                  if name not in SECTION_RIGHTS and value & SCN_EXECUTE})
    return wrong


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
        ("sections with other rights than they need", section_rights(pe), {}),
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

    def section_flags(name, set_flags=0, clear_flags=0):
        def patch(pe):
            section = next(s for s in pe.sections if s.Name.rstrip(b"\0") == name.encode())
            section.Characteristics = section.Characteristics & ~clear_flags | set_flags
        return patch

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
        ("writable code", section_flags(".text", set_flags=SCN_WRITE), "'.text'"),
        ("read-only data", section_flags(".data", clear_flags=SCN_WRITE), "'.data'"),
        ("executable data", section_flags(".data", set_flags=SCN_EXECUTE), "'.data'"),
        ("writable read-only data", section_flags(".rdata", set_flags=SCN_WRITE), "'.rdata'"),
        ("executable resources", section_flags(".rsrc", set_flags=SCN_EXECUTE), "'.rsrc'"),
        ("relocations kept", section_flags(".reloc", clear_flags=SCN_DISCARDABLE), "'.reloc'"),
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
