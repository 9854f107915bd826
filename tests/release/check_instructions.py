"""Checks that every instruction in Halvenor.exe runs on an Intel 386 with its 387.

Usage: check_instructions.py Halvenor.exe Halvenor.map
       check_instructions.py --self-test Halvenor.exe Halvenor.map

Windows 95 runs on a 386DX, and a processor rejects an instruction it lacks whether or not it
would have had any effect, so one Pentium Pro conditional move ends the program before its
first window. Wine runs on today's processors, where every such instruction works; only the
image tells. Each executable section is disassembled with binutils' objdump, and every
instruction whose mnemonic is outside the 386's and 387's sets (Intel's 80386 Programmer's
Reference Manual and 80387 Programmer's Reference Manual) is reported with its address and
the function the linker's map puts there. One mnemonic has a later encoding: only 0x90 is the
386's NOP; 0F 1F is the Pentium Pro's multi-byte form. Bytes that do not decode are reported
too, since nothing can be said of them.

The linker script puts data of its own into the code section (the constructor and destructor
lists, and any exception tables); the map gives their places, and they are skipped.

With --self-test, patches instructions of later processors into the real image and fails
unless each is refused at its address, and patches 386 and 387 instructions that the program
does not use, failing if any of those is refused.
"""
import os
import re
import subprocess
import sys
import tempfile

import pefile

OBJDUMP = "i686-w64-mingw32-objdump"
CXXFILT = "i686-w64-mingw32-c++filt"

# As objdump names them in Intel syntax: every instruction of the 80386, including its system
# instructions, and of the 80387. String instructions appear without their size suffix.
I386 = """
    aaa aad aam aas adc add and arpl bound bsf bsr bt btc btr bts call cbw cdq clc cld cli
    clts cmc cmp cmps cwd cwde daa das dec div enter hlt idiv imul in inc ins int int3 into
    iret iretd ja jae jb jbe jcxz je jecxz jg jge jl jle jmp jne jno jnp jns jo jp js lahf lar
    lcall lds lea leave les lfs lgdt lgs lidt ljmp lldt lmsw lods loop loope loopne lret lsl
    lss ltr mov movs movsx movzx mul neg nop not or out outs pop popa popad popf popfd push
    pusha pushad pushf pushfd rcl rcr ret retf rol ror sahf sal sar sbb scas seta setae setb
    setbe sete setg setge setl setle setne setno setnp setns seto setp sets sgdt shl shld shr
    shrd sidt sldt smsw stc std sti stos str sub test verr verw wait xchg xlat xor
"""
I387 = """
    f2xm1 fabs fadd faddp fbld fbstp fchs fclex fcom fcomp fcompp fcos fdecstp fdiv fdivp
    fdivr fdivrp ffree fiadd ficom ficomp fidiv fidivr fild fimul fincstp finit fist fistp
    fisub fisubr fld fld1 fldcw fldenv fldl2e fldl2t fldlg2 fldln2 fldpi fldz fmul fmulp
    fnclex fninit fnop fnsave fnstcw fnstenv fnstsw fpatan fprem fprem1 fptan frndint frstor
    fsave fscale fsin fsincos fsqrt fst fstcw fstenv fstp fstsw fsub fsubp fsubr fsubrp ftst
    fucom fucomp fucompp fwait fxam fxch fxtract fyl2x fyl2xp1
"""
ALLOWED = frozenset((I386 + I387).split())
# Shown by objdump as words of their own before the instruction they modify.
PREFIXES = frozenset("rep repe repz repne repnz lock data16 addr16 cs ds es ss fs gs".split())
PREFIX_BYTES = bytes.fromhex("f0 f2 f3 2e 36 3e 26 64 65 66 67")
DATA_STATEMENTS = ("BYTE", "SHORT", "LONG", "QUAD", "SQUAD")
DATA_INPUT_SECTIONS = re.compile(r"\.(ctors?|dtors?|gcc_except_table)\b")

IMAGE_SCN_CNT_CODE = 0x00000020
IMAGE_SCN_MEM_EXECUTE = 0x20000000

LINE = re.compile(r"^\s*([0-9a-f]+):\t([0-9a-f ]+)\t(.*)$")


def read_map(map_text):
    """(places, data): [(address, name)] sorted by address, and [(start, end)] of data.

    The map gives symbols with the leading underscore of the i386 Windows convention, which
    is taken off; the names of input sections (.text$NAME) have none."""
    places, data = [], []
    pending_section = None
    for line in map_text.splitlines():
        words = line.split()
        if len(words) == 1 and line.startswith(" .") and not line.startswith(" *"):
            pending_section = words[0]  # a long input section name; its place follows
            continue
        if pending_section and len(words) >= 2 and words[0].startswith("0x"):
            words = [pending_section] + words
        pending_section = None
        if len(words) >= 3 and words[1].startswith("0x") and words[2].startswith("0x"):
            name, start, size = words[0], int(words[1], 16), int(words[2], 16)
            if DATA_INPUT_SECTIONS.match(name) and size:
                data.append((start, start + size))
            elif name.startswith(".text") and size:
                places.append((start, name.split("$", 1)[-1] + f" [{os.path.basename(words[3])}]"
                               if len(words) > 3 else name))
        elif len(words) >= 3 and words[0].startswith("0x") and words[1].startswith("0x") \
                and words[2] in DATA_STATEMENTS:
            start = int(words[0], 16)
            data.append((start, start + int(words[1], 16)))
        elif len(words) == 2 and words[0].startswith("0x") and not words[1].startswith("0x"):
            places.append((int(words[0], 16), words[1][1:] if words[1].startswith("_") else words[1]))
    places.sort()
    return places, data


def demangled(names):
    try:
        out = subprocess.run([CXXFILT, "--no-strip-underscore"], input="\n".join(names), capture_output=True, text=True, check=True)
        result = out.stdout.split("\n")
        return dict(zip(names, result)) if len(result) >= len(names) else {}
    except OSError:
        return {}


def code_ranges(pe, data):
    """[(section name, start, end)] of executable bytes, with the linker's data cut out."""
    ranges = []
    for section in pe.sections:
        if not section.Characteristics & (IMAGE_SCN_CNT_CODE | IMAGE_SCN_MEM_EXECUTE):
            continue
        name = section.Name.rstrip(b"\0").decode("ascii", "replace")
        start = pe.OPTIONAL_HEADER.ImageBase + section.VirtualAddress
        end = start + (section.Misc_VirtualSize or section.SizeOfRawData)
        for data_start, data_end in sorted(data):
            if start <= data_start < end:
                if data_start > start:
                    ranges.append((name, start, data_start))
                start = max(start, data_end)
        if start < end:
            ranges.append((name, start, end))
    return ranges


def disassemble(image_path, section, start, end):
    """[(address, bytes, text)] for every instruction objdump decodes between start and end."""
    out = subprocess.run(
        [OBJDUMP, "-D", "-z", "-M", "intel", "--insn-width=16", "-j", section,
         f"--start-address={start:#x}", f"--stop-address={end:#x}", image_path],
        capture_output=True, text=True, check=True).stdout
    found = []
    for line in out.splitlines():
        m = LINE.match(line)
        if m:
            found.append((int(m.group(1), 16), bytes.fromhex(m.group(2)), m.group(3).strip()))
    return found


def refusal(code, text):
    """Why a 386 with a 387 cannot run this instruction, or None if it can."""
    words = text.split()
    while words and words[0] in PREFIXES:
        words.pop(0)
    if not words:
        return None  # a prefix that objdump shows on a line of its own
    mnemonic = words[0]
    if mnemonic not in ALLOWED:
        return mnemonic
    if mnemonic == "nop" and code.lstrip(PREFIX_BYTES) != b"\x90":
        return "nop (multi-byte)"
    return None


def check(image_path, map_text):
    """Every instruction the 386 lacks, as (address, 'address: instruction (bytes) in place')."""
    with open(image_path, "rb") as f:
        pe = pefile.PE(data=f.read())
    places, data = read_map(map_text)
    names = demangled(sorted({name.split(" [")[0] for _, name in places}))
    found = []
    for section, start, end in code_ranges(pe, data):
        for address, code, text in disassemble(image_path, section, start, end):
            why = refusal(code, text)
            if why is None:
                continue
            place = next((name for at, name in reversed(places) if at <= address), None)
            if place:
                bare, _, origin = place.partition(" [")
                place = names.get(bare, bare) + (f" [{origin}" if origin else "")
            found.append((address, f"{address:#010x}: {why}: {text} ({code.hex(' ')})"
                                   + (f" in {place}" if place else "")))
    return found


# Instructions of later processors (each must be refused at the patched address), and of the
# 386 and 387 that the program does not use today (none may be refused).
REFUSED = [
    ("CMOV (Pentium Pro)", "0f44c1", "cmove"),
    ("BSWAP (486)", "0fc8", "bswap"),
    ("CMPXCHG (486)", "0fb10a", "cmpxchg"),
    ("CPUID (Pentium)", "0fa2", "cpuid"),
    ("RDTSC (Pentium)", "0f31", "rdtsc"),
    ("multi-byte NOP (Pentium Pro)", "0f1f440000", "nop (multi-byte)"),
    ("MMX", "0fefc0", "pxor"),
    ("SSE", "0f57c0", "xorps"),
    ("FCOMI (Pentium Pro)", "dbf1", "fcomi"),
    ("bytes that do not decode", "ffff", "(bad)"),
]
ACCEPTED = [
    ("386: BSF, SHLD, BTS, REP MOVS, XCHG AX,AX", "0fbcc1" "0fa4c103" "0fabc1" "f3a5" "6690"),
    ("387: FSIN, FNSTSW AX, FUCOMPP", "d9fe" "dfe0" "dae9"),
]


def self_test(image_path, map_text):
    with open(image_path, "rb") as f:
        original = f.read()
    pe = pefile.PE(data=original)
    _, data = read_map(map_text)
    section, start, end = code_ranges(pe, data)[0]
    text_section = next(s for s in pe.sections if s.Name.rstrip(b"\0").decode() == section)
    file_offset = text_section.PointerToRawData + (start - pe.OPTIONAL_HEADER.ImageBase - text_section.VirtualAddress)
    # A patch ends on an instruction boundary of the original, filled up with 0x90, so that
    # what follows still decodes as it did.
    boundaries = [address for address, _, _ in disassemble(image_path, section, start, end)]

    failures = []
    with tempfile.TemporaryDirectory() as work:
        def run(patch_hex):
            patch = bytes.fromhex(patch_hex)
            stop = next(b for b in boundaries if b >= start + len(patch))
            patch += b"\x90" * (stop - start - len(patch))
            patched = os.path.join(work, "patched.exe")
            with open(patched, "wb") as f:
                f.write(original[:file_offset] + patch + original[file_offset + len(patch):])
            return [(address, line) for address, line in check(patched, map_text) if start <= address < stop]

        for what, patch_hex, mnemonic in REFUSED:
            found = run(patch_hex)
            if not any(address == start and f": {mnemonic}:" in line for address, line in found):
                failures.append(f"{what} ({patch_hex}) at {start:#x} went unreported (reported there: {found})")
        for what, patch_hex in ACCEPTED:
            found = run(patch_hex)
            if found:
                failures.append(f"{what} refused: {[line for _, line in found]}")
    return failures


def main(argv):
    testing = argv[1:2] == ["--self-test"]
    image, map_path = argv[2:4] if testing else argv[1:3]
    with open(map_path) as f:
        map_text = f.read()
    if testing:
        failures = self_test(image, map_text)
    else:
        failures = [line for _, line in check(image, map_text)]
    for failure in failures:
        print(f"{image}: {failure}")
    if failures and not testing:
        print(f"{image}: {len(failures)} instructions a 386 with a 387 cannot run")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
