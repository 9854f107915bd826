"""Makes the release package around the tested Halvenor.exe and reads every image back with a
tool other than the one that wrote it.

Usage: check_package.py SOURCE_DIR Halvenor.exe WORK_DIR

scripts/package writes the CD image with xorriso, the floppy image with mtools and the zip with
Info-ZIP's zip. Here isoinfo reads the CD image's Joliet tree and its plain ISO 9660 tree, the
FAT reader below reads the floppy image and Python's zipfile reads the zip. Each must hold the
four files of the package, byte for byte as beside it, and a SHA256SUMS that is true of them.
The text files must have CR LF line breaks only, in the images as beside them: Notepad on
Windows 2000 and XP shows a file with bare LF breaks as one long line.

Every file in every image is dated the commit's time (SOURCE_DATE_EPOCH if set), as read back
from the CD image's directory records in both trees, the floppy's directory entries and the
zip's entries. The FAT and zip formats keep local times in two-second steps, written in UTC by
scripts/package, so they may differ from it by less than two seconds; the CD image by none.
"""
import calendar
import hashlib
import os
import struct
import subprocess
import sys
import zipfile

import pefile

FILES = ["Halvenor.exe", "README.txt", "EnableBigLba.reg", "RemoveBigLba.reg"]
TEXT_FILES = ["README.txt", "EnableBigLba.reg", "RemoveBigLba.reg"]
LABEL = "HALVENOR"
FLOPPY_BYTES = 1474560


def file_version(path):
    fixed = pefile.PE(path).VS_FIXEDFILEINFO[0]
    return "%d.%d.%d.%d" % (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
                            fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF)


def sums_problems(text, files, what):
    """SHA256SUMS as sha256sum writes it, naming exactly these files with their true hashes."""
    expected = "".join(f"{hashlib.sha256(data).hexdigest()}  {name}\n" for name, data in files.items())
    return [] if text == expected else [f"{what}: SHA256SUMS is\n{text}not\n{expected}"]


def crlf_problems(files, what):
    problems = []
    for name in TEXT_FILES:
        rest = files.get(name, b"").replace(b"\r\n", b"")
        if b"\n" in rest or b"\r" in rest:
            problems.append(f"{what}: {name} has a line break other than CR LF")
    return problems


def isoinfo(iso, *args):
    return subprocess.run(["isoinfo", "-i", iso, *args], check=True, capture_output=True).stdout


def read_iso(iso, joliet):
    """Name to content, from the Joliet tree or from the plain tree with 8.3 names."""
    options = ["-J"] if joliet else []
    paths = isoinfo(iso, *options, "-f").decode("ascii").split()
    return {path.lstrip("/"): isoinfo(iso, *options, "-x", path) for path in paths}


def iso_dates(data, joliet):
    """Name to recording time, in seconds since 1970, of each file in the root directory of the
    CD image's Joliet tree or its plain tree."""
    sector = 16
    while data[sector * 2048] != 255:
        descriptor = data[sector * 2048:][:2048]
        if descriptor[0] == (2 if joliet else 1):
            break
        sector += 1
    else:
        return {}
    extent, size = struct.unpack_from("<I", descriptor, 158)[0], struct.unpack_from("<I", descriptor, 166)[0]
    dates, at = {}, extent * 2048
    while at < extent * 2048 + size:
        length = data[at]
        if length == 0:  # no record crosses into the next sector
            at = (at // 2048 + 1) * 2048
            continue
        name = data[at + 33:at + 33 + data[at + 32]]
        if name not in (b"\0", b"\1"):  # the directory itself and its parent
            year, month, day, hour, minute, second, quarters = struct.unpack_from("<6Bb", data, at + 18)
            local = calendar.timegm((1900 + year, month, day, hour, minute, second))
            dates[name.decode("utf-16-be" if joliet else "ascii")] = local - quarters * 15 * 60
        at += length
    return dates


def dos_time(date, time):
    """A FAT or zip date and time word as seconds since 1970, read as UTC."""
    return calendar.timegm((1980 + (date >> 9), date >> 5 & 15, date & 31,
                            time >> 11, time >> 5 & 63, (time & 31) * 2))


def short_name(name):
    """The ISO 9660 level 1 name that DOS and Windows without Joliet show."""
    stem, _, extension = name.partition(".")
    return f"{stem[:8]}.{extension[:3]};1".upper()


def read_floppy(data):
    """Name to content and name to write time from the root directory of a FAT12 floppy image,
    long names included; and the problems with its boot sector and label."""
    problems = []
    (bytes_per_sector, sectors_per_cluster, reserved, fats, root_entries, sectors, media,
     sectors_per_fat, sectors_per_track, heads) = struct.unpack_from("<HBHBHHBHHH", data, 11)
    geometry = (bytes_per_sector, sectors_per_cluster, sectors, media, sectors_per_track, heads)
    if len(data) != FLOPPY_BYTES or geometry != (512, 1, 2880, 0xF0, 18, 2):
        problems.append(f"{len(data)} bytes, geometry {geometry}: not a 1.44 MB floppy")
    if data[510:512] != b"\x55\xaa" or data[38] != 0x29 or data[54:62] != b"FAT12   ":
        problems.append("no FAT12 boot sector with extended boot record")
    if data[43:54] != LABEL.ljust(11).encode():
        problems.append(f"boot sector label {data[43:54]!r}")
    fat_bytes = sectors_per_fat * bytes_per_sector
    fat = data[reserved * bytes_per_sector:][:fat_bytes]
    if any(data[(reserved + i * sectors_per_fat) * bytes_per_sector:][:fat_bytes] != fat for i in range(fats)):
        problems.append("the copies of the FAT differ")
    root = (reserved + fats * sectors_per_fat) * bytes_per_sector
    first_cluster = root + root_entries * 32
    cluster_bytes = sectors_per_cluster * bytes_per_sector

    def next_cluster(cluster):
        pair = fat[cluster * 3 // 2] | fat[cluster * 3 // 2 + 1] << 8
        return pair >> 4 if cluster & 1 else pair & 0xFFF

    files, dates, long_entries, label = {}, {}, [], None
    for offset in range(root, first_cluster, 32):
        entry = data[offset:offset + 32]
        if entry[0] == 0:
            break
        if entry[0] == 0xE5:
            long_entries = []
        elif entry[11] == 0x0F:
            long_entries.insert(0, entry)  # stored last part first
        elif entry[11] & 0x08:
            label = entry[:11]
        else:
            short = entry[:11]
            checksum = 0
            for byte in short:
                checksum = (((checksum >> 1) | (checksum << 7)) + byte) & 0xFF
            if long_entries and all(part[13] == checksum for part in long_entries):
                units = b"".join(part[1:11] + part[14:26] + part[28:32] for part in long_entries)
                name = units.decode("utf-16-le").split("\0")[0]
            else:
                # Windows NT marks a name whose only lower-case part is the stem or extension
                # with these flags instead of a long name, and shows it so.
                stem = short[:8].decode("ascii").rstrip()
                extension = short[8:].decode("ascii").rstrip()
                stem = stem.lower() if entry[12] & 0x08 else stem
                extension = extension.lower() if entry[12] & 0x10 else extension
                name = stem + ("." + extension if extension else "")
            long_entries = []
            cluster, size = struct.unpack_from("<HI", entry, 26)
            content = b""
            while len(content) < size and 2 <= cluster < 0xFF8:
                content += data[first_cluster + (cluster - 2) * cluster_bytes:][:cluster_bytes]
                cluster = next_cluster(cluster)
            if len(content) < size:
                problems.append(f"{name}: the cluster chain ends before {size} bytes")
            files[name] = content[:size]
            dates[name] = dos_time(*struct.unpack_from("<HH", entry, 22)[::-1])
    if label != LABEL.ljust(11).encode():
        problems.append(f"volume label entry {label!r}")
    return files, dates, problems


def main(argv):
    if len(argv) != 4:
        print(__doc__)
        return 2
    source, exe, work = argv[1:]
    dist = os.path.join(work, "dist")
    subprocess.run([os.path.join(source, "scripts", "package"), exe, dist], check=True)
    name = "Halvenor-" + file_version(exe)
    images = [name + ".iso", name + ".img", name + ".zip"]

    def read(file):
        with open(os.path.join(dist, file), "rb") as f:
            return f.read()

    problems = []
    listed = sorted(os.listdir(dist))
    if listed != sorted(FILES + images + ["SHA256SUMS"]):
        problems.append(f"dist holds {listed}")
    loose = {file: read(file) for file in FILES}
    problems += crlf_problems(loose, "dist")
    problems += sums_problems(read("SHA256SUMS").decode(), {**loose, **{i: read(i) for i in images}}, "dist")

    iso = os.path.join(dist, name + ".iso")
    description = isoinfo(iso, "-d").decode()
    if f"Volume id: {LABEL}\n" not in description:
        problems.append(f"{name}.iso: volume id other than {LABEL}")
    joliet = read_iso(iso, joliet=True) if "Joliet with UCS level" in description else {}
    plain = read_iso(iso, joliet=False)
    by_short_name = {short_name(file): file for file in FILES + ["SHA256SUMS"]}
    floppy, floppy_dates, floppy_problems = read_floppy(read(name + ".img"))
    problems += [f"{name}.img: {problem}" for problem in floppy_problems]
    # zipfile checks each entry's CRC as it reads it.
    with zipfile.ZipFile(os.path.join(dist, name + ".zip")) as archive:
        zipped = {entry: archive.read(entry) for entry in archive.namelist()}
        zip_dates = {entry.filename: calendar.timegm(entry.date_time) for entry in archive.infolist()}
    trees = {
        f"{name}.iso (Joliet)": joliet,
        f"{name}.iso (ISO 9660)": {by_short_name.get(path, path): data for path, data in plain.items()},
        f"{name}.img": floppy,
        f"{name}.zip": zipped,
    }
    for what, files in trees.items():
        if sorted(files) != sorted(FILES + ["SHA256SUMS"]):
            problems.append(f"{what} holds {sorted(files)}")
            continue
        problems += [f"{what}: {file} differs from dist/{file}" for file in FILES if files[file] != loose[file]]
        problems += crlf_problems(files, what)
        problems += sums_problems(files["SHA256SUMS"].decode(), {file: files[file] for file in FILES}, what)

    epoch = os.environ.get("SOURCE_DATE_EPOCH") or subprocess.run(
        ["git", "-C", source, "log", "-1", "--format=%ct"], check=True, capture_output=True, text=True).stdout
    epoch, iso_data = int(epoch), read(name + ".iso")
    # Seconds each format may be off by, with the dates it holds.
    dated = {
        f"{name}.iso (Joliet)": (0, iso_dates(iso_data, joliet=True)),
        f"{name}.iso (ISO 9660)": (0, {by_short_name.get(path, path): date
                                       for path, date in iso_dates(iso_data, joliet=False).items()}),
        f"{name}.img": (1, floppy_dates),
        f"{name}.zip": (1, zip_dates),
    }
    for what, (slack, dates) in dated.items():
        if sorted(dates) != sorted(FILES + ["SHA256SUMS"]):
            problems.append(f"{what}: dates of {sorted(dates)}")
        problems += [f"{what}: {file} is dated {date}, {date - epoch:+d} s from {epoch}"
                     for file, date in sorted(dates.items()) if abs(date - epoch) > slack]

    for problem in problems:
        print(f"check_package: {problem}")
    if not problems:
        print(f"check_package: {', '.join(trees)} each hold the four files of {dist} and their SHA256SUMS, "
              f"dated {epoch}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
