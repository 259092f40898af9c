#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Whether two builds write the same thumbnails, byte for byte, of the benchmark corpus (made by
# bench.py) at 10, 40 and 73 %: for a change that must not alter what Pictelle writes.
#
#   bash bench/thumbs/same_thumbs.sh OLD_BIN_FOLDER NEW_BIN_FOLDER
#
# Each folder is a program folder (pictelle-batch with its converters beside it), for example a
# copy of build/bin taken before the change. Prints the number of thumbnails compared, the
# differing ones, and exits non-zero when any differ.
set -euo pipefail
corpus=$(cd "$(dirname "$0")/../corpus" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

thumbs() { # BIN OUT
    for p in 10 40 73; do
        for set in "$corpus"/*/; do
            out=$2/$p/$(basename "$set")
            mkdir -p "$out"
            cp "$set"* "$out"/
            sources=("$out"/*)
            XDG_CACHE_HOME=$work/cache XDG_CONFIG_HOME=$work/config \
                "$1/pictelle-batch" -p "$p" "${sources[@]}" >/dev/null
            rm "${sources[@]}"
        done
    done
}

thumbs "$1" "$work/old"
thumbs "$2" "$work/new"
echo "same_thumbs: $(find "$work/old" -type f | wc -l) thumbnails compared"
diff -rq "$work/old" "$work/new"
