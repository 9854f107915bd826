#!/usr/bin/env bash
# Builds the release as scripts/release does, in the release's Debian 12 root
# (scripts/pinned-build), from two copies of the source tree in unrelated directories, at
# different times, in different time zones and with different umasks, and checks that both
# packages are byte for byte alike, images included: no clock, timestamp, build path, owner or
# other state of the build machine may reach them. Those are the bytes anyone who runs
# scripts/release gets, on Debian 12 or 13. Where this machine's own toolchain is the root's
# (the same versions of the packages toolchain.txt names), the package of the image under test
# must be the same bytes too. The package's dates are the commit's, which the copies, being no
# checkouts, are given as SOURCE_DATE_EPOCH. The release package is left in WORK_DIR/release.
# Exits with 77 where chroot is forbidden.
# Usage: check_reproducible.sh SOURCE_DIR WORK_DIR IMAGE
set -euo pipefail
source_dir=$1
work=$2
image=$3

rm -rf "$work"
mkdir -p "$work"
if [[ -z ${SOURCE_DATE_EPOCH:-} ]]; then
    SOURCE_DATE_EPOCH=$(git -C "$source_dir" log -1 --format=%ct)
fi
export SOURCE_DATE_EPOCH

# The files a fresh clone would have, plus new ones not yet committed; never build output.
list_sources() {
    if git -C "$source_dir" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        git -C "$source_dir" ls-files -z --cached --others --exclude-standard
    else
        (cd "$source_dir" && find . -path ./build -prune -o -path ./dist -prune -o -type f -print0)
    fi
}

copies=("$work/a" "$work/second-copy/of/the/source/tree")
zones=(UTC Pacific/Kiritimati)
umasks=(0022 0077)
for i in 0 1; do
    copy=${copies[$i]}
    mkdir -p "$copy"
    list_sources | (cd "$source_dir" && xargs -0 cp --parents -t "$copy")
    status=0
    (
        export TZ=${zones[$i]}
        umask "${umasks[$i]}"
        "$source_dir/scripts/pinned-build" "$copy" "$copy/out/dist" >/dev/null
    ) || status=$?
    ((status == 0)) || exit $status
done
release=$work/release
cp -r "${copies[0]}/out/dist" "$release"

compare() {
    local expected=$1 actual=$2 status=0 file
    if ! diff <(ls "$expected") <(ls "$actual"); then
        echo "check_reproducible: $actual holds other files than $expected" >&2
        status=1
    fi
    for file in "$expected"/*; do
        if ! cmp "$file" "$actual/${file##*/}"; then
            echo "check_reproducible: ${file##*/} in $actual differs (first difference above)" >&2
            status=1
        fi
    done
    return $status
}

status=0
compare "$release" "${copies[1]}/out/dist" || status=1

# This machine's versions of the root's toolchain, in toolchain.txt's form.
mapfile -t toolchain < <(tail -n +2 "$release/toolchain.txt" | cut -d' ' -f1)
host_versions=$(dpkg-query -W -f='${Package} ${Version}\n' "${toolchain[@]}" 2>/dev/null | sort || true)
if [[ $host_versions == "$(tail -n +2 "$release/toolchain.txt")" ]]; then
    "$source_dir/scripts/package" "$image" "$work/package"
    cp "$release/toolchain.txt" "$work/package/"
    compare "$release" "$work/package" || status=1
    tested="the package of $image, built with this machine's toolchain, is the same"
else
    tested="$image was built with another toolchain than the release's and is not compared"
fi

if ((status == 0)); then
    echo "check_reproducible: both rebuilds in the release's root give the same package; $tested:"
    cat "$release/SHA256SUMS"
fi
exit $status
