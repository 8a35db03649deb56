#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, ASan and UBSan in a build of their
# own and runs each for FUZZ_SECONDS seconds (default 60) on its seeds:
# what tests/fuzz/make_seeds.cpp writes in the target's layout (archives and
# packed streams our packer and test writer make, the archives in tests/data)
# and the target's kept regression inputs, tests/fuzz/regressions/TARGET/.
# Fails on any crash, sanitizer report, leak or input that runs longer than a
# second, and prints the executions per target and the peak heap of one
# extraction.
#
# FUZZ_SECONDS   seconds per target (default 60)
# FUZZ_TARGETS   which targets (default: all, header_walk unpack cipher_unpack round_trip extract)
# FUZZ_BUILD     build folder (default build/fuzz); its corpora grow from run to run
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
all_targets="header_walk unpack cipher_unpack round_trip extract"
targets=${FUZZ_TARGETS:-$all_targets}
build=${FUZZ_BUILD:-build/fuzz}
work=$build/fuzz-run
for t in $targets; do
    if [[ " $all_targets " != *" $t "* ]]; then
        echo "fuzz.sh: no target $t (targets: $all_targets)" >&2
        exit 2
    fi
done

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZQ_SANITIZE=ON -DZQ_FUZZ=ON -DZQ_WERROR=ON >/dev/null
binaries=(fuzz_make_seeds)
for t in $targets; do binaries+=("fuzz_$t"); done
cmake --build "$build" -j2 --target "${binaries[@]}"

rm -rf "$work/seeds"
mkdir -p "$work/seeds"
"$build/tests/fuzz/fuzz_make_seeds" "$work/seeds"
for t in $targets; do
    for f in tests/fuzz/regressions/"$t"/*; do
        if [ -f "$f" ]; then cp "$f" "$work/seeds/$t/regression-$(basename "$f")"; fi
    done
done

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:allocator_may_return_null=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
failed=0
total=0
for t in $targets; do
    corpus=$work/corpus/$t
    artifacts=$work/artifacts/$t
    log=$work/$t.log
    mkdir -p "$corpus" "$artifacts"
    status=0
    "$build/tests/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=1 -detect_leaks=1 \
        -rss_limit_mb=2048 -dict=tests/fuzz/rar.dict -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "$corpus" "$work/seeds/$t" \
        >"$log" 2>&1 || status=$?
    executions=$(awk '/stat::number_of_executed_units/ {print $2}' "$log" | tail -1)
    total=$((total + ${executions:-0}))
    printf '%-14s %12s executions in %ss, corpus %s inputs\n' "$t" "${executions:-0}" \
        "$seconds" "$(find "$corpus" -type f | wc -l)"
    if [ "$status" != 0 ] || [ -n "$(ls -A "$artifacts")" ]; then
        echo "FAILED: fuzz_$t (exit $status); inputs kept in $artifacts:"
        ls -l "$artifacts"
        grep -E -A25 'ERROR|invariant|runtime error|SUMMARY' "$log" | head -60 || tail -40 "$log"
        failed=1
    fi
done
echo "total executions: $total"

# Peak heap of one extraction over every seed and every input found so far,
# however large the sizes they claim; the target itself fails above 8 MiB.
if [[ " $targets " == *" extract "* ]]; then
    "$build/tests/fuzz/fuzz_extract" -runs=0 -timeout=1 "$work/corpus/extract" \
        "$work/seeds/extract" >"$work/peak.log" 2>&1 || {
        echo "FAILED: extraction over the corpus"
        tail -30 "$work/peak.log"
        failed=1
    }
    grep 'peak heap' "$work/peak.log" || true
fi
exit "$failed"
