"""Checks the import table of Halvenor.exe against the committed list of allowed imports.

Usage: check_imports.py Halvenor.exe imports.txt
       check_imports.py --self-test Halvenor.exe imports.txt

Windows refuses to start a program with even one import its DLLs do not export, and Wine
exports nearly everything, so this is the only place such an import is caught. Every import
must be named in the list (which names nothing else, so that its sources speak of the image),
come from KERNEL32 (present on every Windows from 95 on, and a KnownDLL on NT, so no file
beside the program can stand in for it; the start loads USER32 and ADVAPI32 itself, by full
path, after the DLLs they would load by name), be imported by name and be bound at load time. For each, the list must give Windows 95 retail as
its first release in the 9x family and NT 4.0 or earlier in the NT family, each with a source.
With --self-test, feeds the checks known faults and fails unless each one is reported.
"""
import sys

import pefile

DLLS = {"KERNEL32"}
# The oldest release each family may name: every import must be there for the program to start.
FLOORS = {"9x": ("95",), "NT": ("NT3.1", "NT3.5", "NT3.51", "NT4.0")}
SOURCES = {"msdn98", "win95limits", "wine95", "w32copy"}


def dll_name(raw):
    name = raw.decode("ascii", "replace").upper()
    return name[:-4] if name.endswith(".DLL") else name


def read_list(text):
    """(dll, function) -> line number, and the problems of the list itself."""
    allowed, problems = {}, []
    for number, line in enumerate(text.splitlines(), 1):
        fields = line.split("#", 1)[0].split()
        if not fields:
            continue
        where = f"imports.txt:{number}"
        if len(fields) != 6:
            problems.append(f"{where}: expected DLL, function, 9x release and source, NT release and source;"
                            f" got {fields}")
            continue
        dll, function = fields[:2]
        if dll not in DLLS:
            problems.append(f"{where}: {dll} is not one of {sorted(DLLS)}")
        for family, (release, source) in zip(FLOORS, (fields[2:4], fields[4:6])):
            if release not in FLOORS[family]:
                problems.append(f"{where}: {function} needs {release}, later than {FLOORS[family][-1]}")
            if source not in SOURCES:
                problems.append(f"{where}: {function} cites unknown source {source!r}")
        if (dll, function) in allowed:
            problems.append(f"{where}: {dll} {function} listed twice")
        allowed[(dll, function)] = number
    return allowed, problems


def image_imports(pe):
    """Imports as (dll, name or '#ordinal', delay-loaded)."""
    found = []
    for directory, delayed in (("DIRECTORY_ENTRY_IMPORT", False), ("DIRECTORY_ENTRY_DELAY_IMPORT", True)):
        for entry in getattr(pe, directory, []):
            for symbol in entry.imports:
                name = symbol.name.decode("ascii") if symbol.name else f"#{symbol.ordinal}"
                found.append((dll_name(entry.dll), name, delayed))
    return found


def compare(imports, allowed):
    problems = []
    for dll, name, delayed in imports:
        if dll not in DLLS:
            problems.append(f"imports {name} from {dll}, which is none of {sorted(DLLS)}")
        elif name.startswith("#"):
            problems.append(f"imports {dll} ordinal {name[1:]}: ordinals differ between Windows releases")
        elif (dll, name) not in allowed:
            problems.append(f"imports {dll} {name}, which imports.txt does not list")
        if delayed:
            problems.append(f"delay-loads {dll} {name}: fails only when first called, not at start")
    imported = {(dll, name) for dll, name, _ in imports}
    for dll, name in sorted(set(allowed) - imported):
        problems.append(f"imports.txt:{allowed[(dll, name)]}: lists {dll} {name}, which the image does not import")
    return problems


def check(pe, list_text):
    allowed, problems = read_list(list_text)
    return problems + compare(image_imports(pe), allowed)


def self_test(pe, list_text):
    """Each fault must produce a problem naming it; the real image and list must produce none."""
    imports = image_imports(pe)
    allowed, _ = read_list(list_text)
    dll, name, _ = next(i for i in imports if i[0] == "KERNEL32")
    faults = [
        ("an import missing from the list",
         compare(imports, {k: v for k, v in allowed.items() if k != (dll, name)}), name),
        ("a listed function not imported",
         compare([i for i in imports if i[:2] != (dll, name)], allowed), f"lists {dll} {name}"),
        ("a USER32 import, which loads before the start can", compare(imports + [("USER32", "MessageBoxA", False)], allowed),
         "from USER32"),
        ("an import by ordinal", compare(imports + [("KERNEL32", "#17", False)], allowed), "ordinal 17"),
        ("a delay-loaded import", compare(imports + [("USER32", "MessageBoxA", True)], allowed), "delay-loads"),
        ("a listed function that needs 98",
         read_list(list_text + "KERNEL32 GetFileAttributesExA 98 msdn98 NT4.0 msdn98\n")[1],
         "GetFileAttributesExA needs 98"),
        ("a listed function that needs 2000",
         read_list(list_text + "KERNEL32 CreateToolhelp32Snapshot 95 msdn98 2000 msdn98\n")[1],
         "CreateToolhelp32Snapshot needs 2000"),
        ("a listed DLL but KERNEL32", read_list(list_text + "SHELL32 ShellExecuteA 95 msdn98 NT3.1 msdn98\n")[1],
         "SHELL32"),
        ("a line without its NT source", read_list(list_text + "KERNEL32 Beep 95 msdn98 NT3.1\n")[1], "Beep"),
        ("an unknown source", read_list(list_text + "KERNEL32 Beep 95 hearsay NT3.1 msdn98\n")[1], "hearsay"),
    ]
    failures = [f"real image and list: {p}" for p in check(pe, list_text)]
    for what, problems, mark in faults:
        if not any(mark in p for p in problems):
            failures.append(f"{what} went unreported (problems: {problems})")
    return failures


def main(argv):
    testing = argv[1:2] == ["--self-test"]
    image, list_path = argv[2:4] if testing else argv[1:3]
    pe = pefile.PE(image)
    with open(list_path, encoding="ascii") as f:
        list_text = f.read()
    failures = self_test(pe, list_text) if testing else check(pe, list_text)
    for failure in failures:
        print(f"{image}: {failure}")
    if not testing:
        print(f"{image}: {len(image_imports(pe))} imports checked")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
