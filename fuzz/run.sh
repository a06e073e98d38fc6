#!/bin/bash
# Runs each fuzz target for a fixed time on its committed corpus. Fails (exit 1) on any
# crash, sanitizer report, leak, input slower than the per-input limit or memory overrun;
# the input that caused it is kept and its path printed.
#
# Usage: fuzz/run.sh [--build DIR] [--time SECONDS] [--keep DIR] [TARGET...]
#   --build DIR   the build folder configured with -DQUARNEL_FUZZ=ON (default: build-fuzz)
#   --time S      seconds per target (default: 20)
#   --keep DIR    keep the new inputs each target found, in DIR/<target>/
#   TARGET        fuzz_fat_scan, fuzz_ntfs_scan, ... (default: every one that was built)
set -uo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build-fuzz"
seconds=20
keep=""
targets=()
while [ $# -gt 0 ]; do
    case "$1" in
        --build) build=$(cd "$2" && pwd); shift 2 ;;
        --time) seconds=$2; shift 2 ;;
        --keep) mkdir -p "$2" && keep=$(cd "$2" && pwd); shift 2 ;;
        -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
        *) targets+=("$1"); shift ;;
    esac
done
if [ ${#targets[@]} -eq 0 ]; then
    for source in "$here"/fuzz/fuzz_*.cpp; do
        targets+=("$(basename "$source" .cpp)")
    done
fi

# Leaks and every UBSan finding count as failures; reports carry their stacks.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"

failed=()
for target in "${targets[@]}"; do
    program="$build/fuzz/$target"
    if [ ! -x "$program" ]; then
        echo "$target: not built in $build (configure with -DQUARNEL_FUZZ=ON and clang++)"
        failed+=("$target")
        continue
    fi
    work=$(mktemp -d "${TMPDIR:-/tmp}/quarnel-$target-XXXXXX")
    new="$work/new"
    [ -n "$keep" ] && new="$keep/$target"
    mkdir -p "$new"
    # New inputs go to the first folder; the committed corpus is only read.
    "$program" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$work/" "$new" "$here/fuzz/corpus/$target" \
        > "$work/log" 2>&1
    status=$?
    stats=$(grep -E '^stat::(number_of_executed_units|new_units_added|peak_rss_mb)' "$work/log" |
            sed 's/^stat:://' | tr -s ' ' | tr '\n' ' ')
    coverage=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$work/log" | tail -1)
    if [ $status -ne 0 ]; then
        echo "$target: FAILED (exit $status) $coverage $stats"
        grep -E 'ERROR|SUMMARY|runtime error|Test unit written' "$work/log" | head -20
        echo "  full log: $work/log"
        failed+=("$target")
    else
        echo "$target: ok, $coverage $stats"
        rm -rf "$work"
    fi
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzzing failed: ${failed[*]}"
    exit 1
fi
