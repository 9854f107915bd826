#!/usr/bin/python3
"""Compares copies of HKLM that driver.exe --save-hklm writes (RegSaveKey under Wine: the server's
own text format) for tests/e2e/run, and prints what it finds, or nothing.

  hklm.py diff LANE ONE OTHER [enable-big-lba] [windows-version]
      the lines only ONE holds ("< ") or only OTHER ("> "), but for what the lane's Wine writes
      by itself and what is allowed: EnableBigLba and its keys, the Windows version values
  hklm.py wow6432 COPY      every EnableBigLba under a Wow6432Node, a 32-bit view
  hklm.py --self-test

A copy that is missing or cannot be read is reported, never taken for one without differences.
"""
import difflib
import os
import re
import sys
import tempfile

# A value every copy holds: two copies that could not be read alike would compare equal.
KNOWN = '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion] "SystemRoot"='

SET = r'\[HKEY_LOCAL_MACHINE\\System\\(CurrentControlSet|ControlSet001)\\'
ALLOWED = {
    'enable-big-lba': SET + r'Services\\Atapi(\\Parameters\]( "EnableBigLba"=|$)|\]$)',
    'windows-version': r'\[HKEY_LOCAL_MACHINE\\Software(\\Wow6432Node)?\\Microsoft\\Windows NT\\CurrentVersion\] '
                       r'"(CurrentVersion|CurrentBuildNumber|CSDVersion|CurrentMajorVersionNumber|CurrentMinorVersionNumber)"=',
}

# What each Wine changes in HKLM by itself while a run starts its desktop. The host's Wine in a
# 32-bit prefix (Wine 8 on Debian 12, 10 on Debian 13) registers the virtual desktop's display
# adapter, under Control\Video and the display device class, with a fresh driver date. Wine 10
# in WoW64 mode writes the driver date again, as DriverDateData, under both, and names each
# desktop's video key anew: a key under Control\Video named by a new GUID, holding only
# "GraphicsDriver"="winex11.drv", replaces the last one.
WINE_OWN = {
    'host32': SET + r'Control\\(Video\\|Class\\\{4D36E968-E325-11CE-BFC1-08002BE10318\}\\)',
    'wow64': SET + r'Control\\((Class\\\{4D36E968-E325-11CE-BFC1-08002BE10318\}|Video\\\{[0-9a-f-]{36}\})\\[0-9]{4}\] '
                   r'"DriverDateData"=hex:([0-9a-f]{2},){7}[0-9a-f]{2}$'
                   r'|Video\\\{[0-9a-f-]{36}\}(\\0000)?\]( "GraphicsDriver"="winex11\.drv")?$)',
}


class Unreadable(Exception):
    pass


def lines(path):
    """One line per line of the copy, each prefixed with its key as reg.exe names it, so that a
    difference names its key. The server stamps each key with the time it last changed, which no
    comparison wants. CurrentControlSet is saved as the link it is, to ControlSet001."""
    try:
        with open(path, 'rb') as file:
            text = file.read().decode('utf-8', 'surrogateescape')
    except OSError as error:
        raise Unreadable(f'cannot read {path}: {error.strerror}')
    key, out = '', []
    for line in text.replace('\r', '').split('\n'):
        if line.startswith('['):
            key = '[HKEY_LOCAL_MACHINE\\' + re.sub(r'\] [0-9]+$', ']', line[1:], count=1).replace('\\\\', '\\')
            out.append(key)
        elif line.strip(' \t') and not line.startswith(('#', ';;', 'WINE REGISTRY')):
            out.append(f'{key} {line}')
    if not any(line.startswith(KNOWN) for line in out):
        raise Unreadable(f'no value read from {path}')
    return out


def diff(lane, one, other, allowed=()):
    try:
        old, new = lines(one), lines(other)
    except Unreadable as error:
        return [f'no registry to compare: {error}']
    ignored = re.compile('|'.join(f'(?:{pattern})' for pattern in [WINE_OWN[lane]] + [ALLOWED[a] for a in allowed]))
    found = []
    for tag, i1, i2, j1, j2 in difflib.SequenceMatcher(None, old, new, autojunk=False).get_opcodes():
        if tag != 'equal':
            found += [f'< {line}' for line in old[i1:i2]] + [f'> {line}' for line in new[j1:j2]]
    return [line for line in found if not ignored.match(line, 2)]


def wow6432(copy):
    try:
        return [line for line in lines(copy) if 'wow6432node' in line.lower() and 'enablebiglba' in line.lower()]
    except Unreadable as error:
        return [f'no registry to read: {error}']


# The self-test's copies: the keys every copy holds, then each case's own, before and after. A
# line in brackets starts a key, whose time stamp differs between the two.
COMMON = [r'[Software\Microsoft\Windows NT\CurrentVersion]', r'"SystemRoot"="C:\\windows"']
ATAPI, PARAMETERS = r'[System\ControlSet001\Services\Atapi]', r'[System\ControlSet001\Services\Atapi\Parameters]'
OFF, ON = '"EnableBigLba"=dword:00000000', '"EnableBigLba"=dword:00000001'
VERSION = r'[Software\Wow6432Node\Microsoft\Windows NT\CurrentVersion]'
CLASS = r'[System\ControlSet001\Control\Class\{4D36E968-E325-11CE-BFC1-08002BE10318}\0000]'
VIDEO = r'[System\ControlSet001\Control\Video\{11111111-2222-3333-4444-555555555555}]'
NEW_VIDEO = r'[System\ControlSet001\Control\Video\{66666666-7777-8888-9999-aaaaaaaaaaaa}]'
DATE, NEW_DATE, GRAPHICS = '"DriverDateData"=hex:41,26,87,d2,a4,87,dd,01', '"DriverDateData"=hex:df,e0,8b,e0,a4,87,dd,01', \
    '"GraphicsDriver"="winex11.drv"'
M = r'[HKEY_LOCAL_MACHINE\System\ControlSet001'
SEEN_CLASS, SEEN_VERSION, SEEN_VIDEO = (r'[HKEY_LOCAL_MACHINE' + '\\' + key[1:] for key in (CLASS, VERSION, NEW_VIDEO))
BOTH = 'host32 wow64'
# What each case compares in which lanes, with which allowances, and the lines it must find.
CASES = [
    ('EnableBigLba and its keys made', BOTH, 'enable-big-lba', [], [ATAPI, PARAMETERS, ON], []),
    ('the same with nothing allowed', BOTH, '', [], [ATAPI, PARAMETERS, ON],
     [rf'> {M}\Services\Atapi]', rf'> {M}\Services\Atapi\Parameters]', rf'> {M}\Services\Atapi\Parameters] {ON}']),
    ('EnableBigLba set', BOTH, 'enable-big-lba', [ATAPI, PARAMETERS, OFF], [ATAPI, PARAMETERS, ON], []),
    ('a value beside it', BOTH, 'enable-big-lba', [PARAMETERS, OFF], [PARAMETERS, ON, '"EnableBigLbaToo"=dword:00000001'],
     [rf'> {M}\Services\Atapi\Parameters] "EnableBigLbaToo"=dword:00000001']),
    ('another value of the Atapi key changed', BOTH, 'enable-big-lba', [ATAPI, '"Start"=dword:00000000'],
     [ATAPI, '"Start"=dword:00000003'], [rf'< {M}\Services\Atapi] "Start"=dword:00000000', rf'> {M}\Services\Atapi] "Start"=dword:00000003']),
    ('keys beside them', BOTH, 'enable-big-lba', [], [ATAPI[:-1] + '2]', PARAMETERS[:-1] + r'\Sub]', ON],
     [rf'> {M}\Services\Atapi2]', rf'> {M}\Services\Atapi\Parameters\Sub]', rf'> {M}\Services\Atapi\Parameters\Sub] {ON}']),
    ('a stray value under another key', BOTH, 'enable-big-lba windows-version', [],
     [r'[System\ControlSet001\Control\Stray]', '"Value"=dword:00000001'],
     [rf'> {M}\Control\Stray]', rf'> {M}\Control\Stray] "Value"=dword:00000001']),
    ('a continued line changed', BOTH, '', [r'[Disk]', '"FilterData"=hex:02,00,\\', '  00,60'],
     [r'[Disk]', '"FilterData"=hex:02,00,\\', '  00,61'], [r'< [HKEY_LOCAL_MACHINE\Disk]   00,60', r'> [HKEY_LOCAL_MACHINE\Disk]   00,61']),
    ('Windows version values set', BOTH, 'windows-version', [VERSION, '"CurrentVersion"="5.1"', '"CSDVersion"="Service Pack 1"'],
     [VERSION, '"CurrentVersion"="6.1"', '"CSDVersion"="Service Pack 2"'], []),
    ('another value of that key', BOTH, 'windows-version', [VERSION, '"ProductName"="XP"'], [VERSION, '"ProductName"="7"'],
     [f'< {SEEN_VERSION} "ProductName"="XP"', f'> {SEEN_VERSION} "ProductName"="7"']),
    ("Wine 10's driver date and desktop video key", BOTH, '', [CLASS, DATE, VIDEO, GRAPHICS], [CLASS, NEW_DATE, NEW_VIDEO, GRAPHICS], []),
    ('that video key with one more value', 'wow64', '', [VIDEO, GRAPHICS], [NEW_VIDEO, GRAPHICS, '"Mode"=dword:00000001'],
     [f'> {SEEN_VIDEO} "Mode"=dword:00000001']),
    ('a driver date of another length', 'wow64', '', [CLASS, DATE], [CLASS, DATE + ',02'],
     [f'> {SEEN_CLASS} {DATE},02']),
    ("another value of the display adapter's key", 'wow64', '', [CLASS, '"DriverDesc"="Wine GPU"'], [CLASS, '"DriverDesc"="Other GPU"'],
     [f'< {SEEN_CLASS} "DriverDesc"="Wine GPU"', f'> {SEEN_CLASS} "DriverDesc"="Other GPU"']),
]


def registry(lines, stamp):
    text = 'WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n'
    for line in COMMON + lines:
        text += f'\n{line.replace(chr(92), chr(92) * 2)} {stamp}\n#time={stamp:x}\n' if line.startswith('[') else f'{line}\n'
    return text


def self_test():
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        def copy(name, text):
            with open(os.path.join(folder, name), 'w', newline='') as file:
                file.write(text)
            return file.name
        for what, lanes, allowed, before, after, expected in CASES:
            for lane in lanes.split():
                found = diff(lane, copy('before.reg', registry(before, 1700000000)), copy('after.reg', registry(after, 1700000009)),
                             allowed.split())
                if sorted(found) != sorted(expected):
                    failures.append(f'{what} ({lane}): expected {expected}, found {found}')
        # Copies that cannot be compared: none may pass for one without differences.
        base = copy('base.reg', registry([], 1700000000))
        for what, path in [('a missing copy', os.path.join(folder, 'missing.reg')), ('an empty copy', copy('empty.reg', '')),
                           ('an unreadable copy', folder), ('a copy of another format', copy('other.reg', 'REGEDIT4\n'))]:
            for found in diff('wow64', base, path), diff('wow64', path, base), wow6432(path):
                if len(found) != 1 or not found[0].startswith('no registry to '):
                    failures.append(f'{what}: {found}')
        if diff('host32', base, copy('crlf.reg', registry([], 1700000000).replace('\n', '\r\n'))):
            failures.append('CR LF line breaks made a difference')
        copies = wow6432(copy('wow.reg', registry([r'[Software\WOW6432Node\Atapi]', '"enablebiglba"=dword:00000001'], 1)))
        if wow6432(base) or copies != [r'[HKEY_LOCAL_MACHINE\Software\WOW6432Node\Atapi] "enablebiglba"=dword:00000001']:
            failures.append(f'Wow6432Node check: {wow6432(base)} and {copies}')
    for failure in failures:
        print(f'FAIL {failure}')
    print(f'hklm.py self-test: {len(CASES)} comparisons and 4 unreadable copies, {len(failures)} failure(s)')
    return 1 if failures else 0


def main(argv):
    if argv[1:] == ['--self-test']:
        return self_test()
    if len(argv) >= 5 and argv[1] == 'diff' and argv[2] in WINE_OWN and set(argv[5:]) <= set(ALLOWED):
        found = diff(argv[2], argv[3], argv[4], argv[5:])
    elif len(argv) == 3 and argv[1] == 'wow6432':
        found = wow6432(argv[2])
    else:
        sys.exit(__doc__)
    sys.stdout.reconfigure(errors='surrogateescape')
    for line in found:
        print(line)
    return 1 if found else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
