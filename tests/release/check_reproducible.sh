#!/usr/bin/env bash
# Builds Halvenor.exe and packages it from two copies of the source tree in unrelated
# directories, at different times, in different time zones and with different umasks, and
# checks that both packages are byte for byte the package of the image under test, images
# included: no clock, timestamp, build path, owner or other state of the build machine may
# reach them. The package's dates are the commit's, which the copies, being no checkouts, are
# given as SOURCE_DATE_EPOCH.
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

"$source_dir/scripts/package" "$image" "$work/package"
copies=("$work/a" "$work/second-copy/of/the/source/tree")
zones=(UTC Pacific/Kiritimati)
umasks=(0022 0077)
for i in 0 1; do
    copy=${copies[$i]}
    mkdir -p "$copy"
    list_sources | (cd "$source_dir" && xargs -0 cp --parents -t "$copy")
    (
        cd "$copy"
        export TZ=${zones[$i]}
        umask "${umasks[$i]}"
        cmake --preset win32 -B "$copy/out" >/dev/null
        cmake --build "$copy/out" --target Halvenor -j2 >/dev/null
        scripts/package "$copy/out/Halvenor.exe" "$copy/out/dist"
    )
done

status=0
for copy in "${copies[@]}"; do
    if ! diff <(ls "$work/package") <(ls "$copy/out/dist"); then
        echo "check_reproducible: $copy/out/dist holds other files than $work/package" >&2
        status=1
    fi
    for file in "$work/package"/*; do
        if ! cmp "$file" "$copy/out/dist/${file##*/}"; then
            echo "check_reproducible: the rebuilt ${file##*/} differs (first difference above)" >&2
            status=1
        fi
    done
done
if ((status == 0)); then
    echo "check_reproducible: both rebuilds package to exactly the package of $image:"
    cat "$work/package/SHA256SUMS"
fi
exit $status
