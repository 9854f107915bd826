#!/usr/bin/python3
"""Compares the copies of HKLM that tests/e2e/run takes with driver.exe --save-hklm (RegSaveKey
under Wine, which writes the server's own text format).

  hklm.py diff LANE ONE OTHER [enable-big-lba] [windows-version]
      every line of ONE or OTHER that the other lacks ("< " ONE's, "> " OTHER's), apart from
      what the lane's Wine writes by itself and what is allowed: EnableBigLba with the Atapi and
      Parameters keys, and the Windows version values that every row sets;
  hklm.py wow6432 COPY
      every EnableBigLba under a Wow6432Node, a 32-bit view of the registry;
  hklm.py --self-test

Prints nothing when nothing is found. A copy that is missing, empty or unreadable is reported:
it must never pass for one without differences.
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
    if not text:
        raise Unreadable(f'{path} is empty')
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


# The self-test's copy: Wine's format, with a continued line, the keys each lane's Wine rewrites,
# and the Atapi key.
BASE = r'''WINE REGISTRY Version 2
;; All keys relative to REGISTRY\\Machine

#arch=win64

[Software\\Microsoft\\Windows NT\\CurrentVersion] 1700000000
#time=1d9a0a0a0a0a0a0
"CurrentVersion"="5.1"
"ProductName"="Microsoft Windows XP"
"SystemRoot"="C:\\windows"

[Software\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion] 1700000000
"CSDVersion"="Service Pack 1"

[System\\ControlSet001\\Control\\Class\\{4D36E968-E325-11CE-BFC1-08002BE10318}\\0000] 1700000000
"DriverDateData"=hex:41,26,87,d2,a4,87,dd,01
"DriverDesc"="Wine GPU"

[System\\ControlSet001\\Control\\Video\\{11111111-2222-3333-4444-555555555555}] 1700000000
"GraphicsDriver"="winex11.drv"

[System\\ControlSet001\\Services\\Atapi] 1700000000

[System\\ControlSet001\\Services\\Atapi\\Parameters] 1700000000
"EnableBigLba"=dword:00000000

[System\\ControlSet001\\Services\\Disk] 1700000000
"FilterData"=hex:02,00,00,00,\
  00,00,60,00
'''
VIDEO = r'System\\ControlSet001\\Control\\Video\\{11111111-2222-3333-4444-555555555555}'
NEW_VIDEO = r'System\\ControlSet001\\Control\\Video\\{66666666-7777-8888-9999-aaaaaaaaaaaa}'
NEW_DATE = '"DriverDateData"=hex:df,e0,8b,e0,a4,87,dd,01'
STRAY = '[System\\\\ControlSet001\\\\Control\\\\Stray] 1700000001\n"Value"=dword:00000001\n'
ENABLED = ('"EnableBigLba"=dword:00000000', '"EnableBigLba"=dword:00000001')
ATAPI_KEYS = BASE[BASE.index('[System\\\\ControlSet001\\\\Services\\\\Atapi]'):BASE.index('[System\\\\ControlSet001\\\\Services\\\\Disk]')]
ATAPI_KEY = '[System\\\\ControlSet001\\\\Services\\\\Atapi] 1700000000\n'
ATAPI = '[HKEY_LOCAL_MACHINE\\System\\ControlSet001\\Services\\Atapi'
CLASS = '[HKEY_LOCAL_MACHINE\\System\\ControlSet001\\Control\\Class\\{4D36E968-E325-11CE-BFC1-08002BE10318}\\0000]'
TIMES = ('1700000000', '1700000009'), ('#time=1d9a0a0a0a0a0a0', '#time=1d9b0b0b0b0b0b0')

# What is changed in the copy after (or before), the lanes and allowances compared, and the lines expected.
CASES = [
    ('key times only', TIMES, 'host32 wow64', '', []),
    ('EnableBigLba set, as allowed', [ENABLED], 'host32 wow64', 'enable-big-lba', []),
    ('EnableBigLba set, with no allowance', [ENABLED], 'host32 wow64', '',
     [f'< {ATAPI}\\Parameters] {ENABLED[0]}', f'> {ATAPI}\\Parameters] {ENABLED[1]}']),
    ('Atapi and Parameters keys made, as allowed', [(ATAPI_KEYS, '', 'before'), ENABLED], 'host32 wow64', 'enable-big-lba', []),
    ('a key beside them', [(ATAPI_KEYS, ATAPI_KEYS.replace('Atapi]', 'Atapi2]').replace('Atapi\\\\Parameters]', 'Atapi\\\\Parameters\\\\Sub]'))],
     'host32 wow64', 'enable-big-lba', [f'> {ATAPI}2]', f'> {ATAPI}\\Parameters\\Sub]',
                                        f'> {ATAPI}\\Parameters\\Sub] "EnableBigLba"=dword:00000000']),
    ('a stray value under another key', [('[System\\\\ControlSet001\\\\Services\\\\Disk]', STRAY + '\n[System\\\\ControlSet001\\\\Services\\\\Disk]'), ENABLED],
     'host32 wow64', 'enable-big-lba windows-version',
     ['> [HKEY_LOCAL_MACHINE\\System\\ControlSet001\\Control\\Stray]',
      '> [HKEY_LOCAL_MACHINE\\System\\ControlSet001\\Control\\Stray] "Value"=dword:00000001']),
    ('another value of the Atapi key changed', [(ATAPI_KEY, ATAPI_KEY + '"Start"=dword:00000000\n', 'before'),
     (ATAPI_KEY, ATAPI_KEY + '"Start"=dword:00000003\n')], 'host32 wow64',
     'enable-big-lba', [f'< {ATAPI}] "Start"=dword:00000000', f'> {ATAPI}] "Start"=dword:00000003']),
    ('a value beside EnableBigLba', [(ENABLED[0], ENABLED[0] + '\n"EnableBigLbaToo"=dword:00000001')], 'host32 wow64',
     'enable-big-lba', [f'> {ATAPI}\\Parameters] "EnableBigLbaToo"=dword:00000001']),
    ('a continued line changed', [('  00,00,60,00', '  00,00,61,00')], 'host32 wow64', 'enable-big-lba',
     ['< [HKEY_LOCAL_MACHINE\\System\\ControlSet001\\Services\\Disk]   00,00,60,00',
      '> [HKEY_LOCAL_MACHINE\\System\\ControlSet001\\Services\\Disk]   00,00,61,00']),
    ('Windows version values set, as allowed', [('"CurrentVersion"="5.1"', '"CurrentVersion"="6.1"'),
     ('"Service Pack 1"', '"Service Pack 2"')], 'host32 wow64', 'windows-version', []),
    ('another value of the version key', [('Windows XP', 'Windows 7')], 'host32 wow64', 'windows-version',
     ['< [HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion] "ProductName"="Microsoft Windows XP"',
      '> [HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion] "ProductName"="Microsoft Windows 7"']),
    ("Wine 10's driver date and desktop video key", [('"DriverDateData"=hex:41,26,87,d2,a4,87,dd,01', NEW_DATE),
     (VIDEO, NEW_VIDEO)], 'host32 wow64', '', []),
    ('the video key with one more value', [(VIDEO + '] 1700000000\n', NEW_VIDEO + '] 1700000000\n"Mode"=dword:00000001\n')],
     'wow64', '', [f'> [HKEY_LOCAL_MACHINE\\{NEW_VIDEO.replace(chr(92) * 2, chr(92))}] "Mode"=dword:00000001']),
    ('a driver date of another length', [('"DriverDateData"=hex:41,26,87,d2,a4,87,dd,01', '"DriverDateData"=hex:41,26,87,d2,a4,87,dd,01,02')],
     'wow64', '', [f'> {CLASS} "DriverDateData"=hex:41,26,87,d2,a4,87,dd,01,02']),
    ("another value of the display adapter's key", [('"Wine GPU"', '"Other GPU"')], 'wow64', '',
     [f'< {CLASS} "DriverDesc"="Wine GPU"', f'> {CLASS} "DriverDesc"="Other GPU"']),
]


def self_test():
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        def copy(name, text):
            path = os.path.join(folder, name)
            with open(path, 'w', newline='') as file:
                file.write(text)
            return path
        for what, changes, lanes, allowed, expected in CASES:
            texts = {'before': BASE, 'after': BASE}
            for old, new, *which in changes:
                which = which[0] if which else 'after'
                if old not in texts[which]:
                    failures.append(f'{what}: the copy holds no {old!r}')
                texts[which] = texts[which].replace(old, new)
            before, after = (copy(f'{which}.reg', text) for which, text in texts.items())
            for lane in lanes.split():
                found = diff(lane, before, after, allowed.split())
                if sorted(found) != sorted(expected):
                    failures.append(f'{what} ({lane}): expected {expected}, found {found}')
        before = copy('before.reg', BASE)
        # Copies that cannot be compared: none may pass for equal, in either order.
        crlf = copy('crlf.reg', BASE.replace('\n', '\r\n'))
        for what, path in [('a missing copy', os.path.join(folder, 'missing.reg')), ('an empty copy', copy('empty.reg', '')),
                           ('an unreadable copy', folder), ('a copy of another format', copy('other.reg', 'REGEDIT4\n'))]:
            for pair in (before, path), (path, before):
                found = diff('wow64', *pair)
                if len(found) != 1 or not found[0].startswith('no registry to compare: '):
                    failures.append(f'{what}: {found}')
            if wow6432(path) == []:
                failures.append(f'{what} passed the Wow6432Node check')
        if diff('host32', before, crlf):
            failures.append('CR LF line breaks made a difference')
        wow = copy('wow.reg', BASE + '\n[Software\\\\Wow6432Node\\\\Atapi] 1700000000\n"enablebiglba"=dword:00000001\n')
        if wow6432(before) or wow6432(wow) != ['[HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Atapi] "enablebiglba"=dword:00000001']:
            failures.append(f'Wow6432Node check: {wow6432(before)} and {wow6432(wow)}')
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
