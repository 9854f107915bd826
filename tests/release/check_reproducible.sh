#!/usr/bin/env bash
# Builds Halvenor.exe from two copies of the source tree in unrelated directories, at different
# times and in different time zones, and checks that both are byte for byte the image under
# test: no timestamp, build path or other state of the build machine may reach the image.
# Usage: check_reproducible.sh SOURCE_DIR WORK_DIR IMAGE
set -euo pipefail
source_dir=$1
work=$2
image=$3

rm -rf "$work"
mkdir -p "$work"

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
for i in 0 1; do
    copy=${copies[$i]}
    mkdir -p "$copy"
    list_sources | (cd "$source_dir" && xargs -0 cp --parents -t "$copy")
    (
        cd "$copy"
        export TZ=${zones[$i]}
        cmake --preset win32 -B "$copy/out" >/dev/null
        cmake --build "$copy/out" --target Halvenor -j2 >/dev/null
    )
done

status=0
for built in "${copies[@]/%//out/Halvenor.exe}"; do
    if ! cmp "$image" "$built"; then
        echo "check_reproducible: $built differs from $image (first difference above)" >&2
        status=1
    fi
done
if ((status == 0)); then
    echo "check_reproducible: both rebuilds are identical to $image ($(sha256sum <"$image" | cut -d' ' -f1))"
fi
exit $status
