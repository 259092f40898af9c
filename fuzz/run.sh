#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the fuzz targets with clang (libFuzzer + AddressSanitizer + UBSan), writes the seed
# corpora, and runs each target for a bounded time.
#
#   bash fuzz/run.sh [SECONDS_PER_TARGET] [TARGET...]
#
# Default: 300 seconds for each of fuzz_bmp, fuzz_jpeg, fuzz_png2bmp and fuzz_reader, one
# after another.
# Needs the Debian packages clang and libclang-rt-14-dev (installed when missing and run as
# root). The build, the growing corpora and any crashing inputs (crash-*, oom-*, timeout-*)
# stay in $PICTELLE_FUZZ_DIR (default build-fuzz/). Exits non-zero when a target failed.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-300}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_bmp fuzz_jpeg fuzz_png2bmp fuzz_reader)
dir=${PICTELLE_FUZZ_DIR:-build-fuzz}

if ! command -v clang++ >/dev/null || ! dpkg-query -W -f='${Status}' libclang-rt-14-dev 2>/dev/null | grep -q 'install ok installed'; then
    if [ "$(id -u)" = 0 ]; then
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends clang libclang-rt-14-dev >/dev/null
    else
        echo "fuzz: install clang and libclang-rt-14-dev first" >&2
        exit 2
    fi
fi

if [ ! -f "$dir/build.ninja" ]; then
    cmake -S . -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DPICTELLE_FUZZ=ON >/dev/null
fi
cmake --build "$dir" --target fuzz_seeds "${targets[@]}"

"$dir/fuzz/fuzz_seeds" "$dir/seeds"
declare -A seedsOf=([fuzz_bmp]=bmp [fuzz_jpeg]=jpeg [fuzz_png2bmp]=png [fuzz_reader]=kinds)

# Memory is bounded below what the decoders may legitimately take for the largest picture
# they accept, plus libFuzzer's own; a run that needs more is a finding (oom-*).
status=0
for target in "${targets[@]}"; do
    corpus="$dir/corpus/$target"
    artifacts="$dir/artifacts/$target"
    mkdir -p "$corpus" "$artifacts"
    echo "fuzz: $target for ${seconds}s (log: $dir/$target.log)"
    if ! ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
        "$dir/fuzz/$target" "$corpus" "$dir/seeds/${seedsOf[$target]}" \
        -max_total_time="$seconds" -timeout=20 -rss_limit_mb=3072 -malloc_limit_mb=3072 \
        -max_len=65536 -artifact_prefix="$artifacts/" -print_final_stats=1 \
        >"$dir/$target.log" 2>&1; then
        echo "fuzz: $target FAILED; see $dir/$target.log and $artifacts/" >&2
        status=1
    fi
    grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$dir/$target.log" | sed "s/^/  $target /" || true
done
exit $status
