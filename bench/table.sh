#!/usr/bin/env bash
# bench/table.sh - the whole comparison in one run: our sizes and decoding
# speed on the benchmark corpus beside zstd, gzip and xz, and the
# installer's extraction beside tar.
#
#   bash bench/table.sh [RUNS]        (default RUNS: 5; best of RUNS per timing)
#
# Builds the native preset when its programs are missing (BUILD=DIR takes the
# programs of another build folder, for instance of an older commit) and the
# corpus with bench/make-corpus.sh when build/corpus-build has none. What
# takes long is kept in BUILD/bench-table and made again only when its input
# is newer: the peers' compressed tars, and our archives (whenever zqpack
# is rebuilt), with the time their packing took.
#
# Rows:
# - `zqpack --best` of the corpus folder against `zstd -19 --long=20` of the
#   tar (the same 1 MiB window);
# - `zqrar t` of that archive (decode and check every entry) against
#   `zstd -dc --long=20`, `gzip -dc` (of gzip -9) and `xz -dc` (of xz -6),
#   each writing to /dev/null: best wall and CPU (user + system) times,
#   MB/s of tar bytes per best wall second, and the ratios;
# - the default level: the corpus installer (zqpack --stub, solid and
#   encrypted as the setup carries it), its archive's size and packing speed;
# - extract_bench on that installer: extraction against `tar -xf` of the same
#   files, ratio and peak resident size (TMPDIR chooses the folder), and the
#   peer's way to the same files, `zstd -dc --long=20 | tar -xf -`, on one
#   CPU and on two.
#
# The timings alternate between the programs, so a busy spell of the
# machine spreads over all of them; compare figures of one run.
set -euo pipefail
export LC_ALL=C
runs=${1:-5}
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$here/build/native}
cache=$build/bench-table
corpus_dir=$here/build/corpus-build
corpus=$corpus_dir/corpus
tar_file=$corpus_dir/corpus.tar

for tool in zstd gzip xz tar taskset; do
    command -v $tool >/dev/null || { echo "table.sh: $tool missing (scripts/install-deps.sh)" >&2; exit 1; }
done
if [ -z "${BUILD:-}" ] && [ ! -x "$build/zqrar" -o ! -x "$build/zqpack" -o ! -x "$build/bench/extract_bench" ]; then
    (cd "$here" && cmake --preset native >/dev/null && cmake --build --preset native >/dev/null)
fi
[ -f "$tar_file" ] || bash "$here/bench/make-corpus.sh" "$corpus_dir" >/dev/null
mkdir -p "$cache"

calc() { awk "BEGIN { printf \"%.6f\", $* }"; }
# 22661373 -> 22,661,373
grouped() { sed ':a;s/\B[0-9]\{3\}\>/,&/;ta' <<<"$1"; }
less() { awk "BEGIN { exit !($1 < $2) }"; }

# make_once OUTPUT INPUT COMMAND...: runs COMMAND (which writes OUTPUT) unless
# OUTPUT is newer than INPUT; keeps the wall and CPU (user + system) seconds
# it took in OUTPUT.seconds.
make_once() {
    local out=$1 input=$2
    shift 2
    if [ ! -s "$out" ] || [ ! -f "$out.seconds" ] || [ "$input" -nt "$out" ]; then
        local wall user sys
        read -r wall user sys < <({ TIMEFORMAT='%R %U %S' && time "$@" 2>/dev/null; } 2>&1)
        echo "$wall $(calc "$user + $sys")" >"$out.seconds"
    fi
}
# The packing rate of a kept archive: "W MB/s, CPU C MB/s".
pack_rate() {
    local wall cpu
    read -r wall cpu <"$1.seconds"
    printf '%.1f MB/s, CPU %.1f MB/s' "$(calc "$corpus_bytes / $wall / 1000000")" \
        "$(calc "$corpus_bytes / ${cpu:-$wall} / 1000000")"
}

make_once "$cache/corpus.tar.zst" "$tar_file" \
    sh -c "zstd -19 --long=20 -T1 -q -c '$tar_file' >'$cache/corpus.tar.zst'"
make_once "$cache/corpus.tar.gz" "$tar_file" sh -c "gzip -9 -n -c '$tar_file' >'$cache/corpus.tar.gz'"
make_once "$cache/corpus.tar.xz" "$tar_file" sh -c "xz -6 -T1 -c '$tar_file' >'$cache/corpus.tar.xz'"
make_once "$cache/best.rar" "$build/zqpack" \
    sh -c "rm -f '$cache/best.rar'; '$build/zqpack' --best '$cache/best.rar' '$corpus' >/dev/null"
# A stand-in for the setup's image: the installer's archive is what counts.
stub=$cache/stub.exe
stub_size=98304
if [ ! -f "$stub" ]; then
    { printf 'MZ'; head -c $((stub_size - 2)) /dev/zero; } >"$stub"
fi
make_once "$cache/installer.exe" "$build/zqpack" \
    sh -c "rm -f '$cache/installer.exe'; '$build/zqpack' --stub '$stub' '$cache/installer.exe' '$corpus' >/dev/null"

size() { stat -L -c %s "$1"; }
tar_bytes=$(size "$tar_file")

# Best wall and CPU seconds of each command over the runs, interleaved.
declare -A best_wall best_cpu
names=(ours zstd gzip xz)
declare -A commands=(
    [ours]="'$build/zqrar' t '$cache/best.rar'"
    [zstd]="zstd -dc --long=20 '$cache/corpus.tar.zst'"
    [gzip]="gzip -dc '$cache/corpus.tar.gz'"
    [xz]="xz -dc '$cache/corpus.tar.xz'"
)
TIMEFORMAT='%R %U %S'
for ((r = 0; r < runs; r++)); do
    for name in "${names[@]}"; do
        read -r wall user sys < <({ time sh -c "${commands[$name]} >/dev/null" 2>/dev/null; } 2>&1)
        cpu=$(calc "$user + $sys")
        if [ -z "${best_wall[$name]:-}" ] || less "$wall" "${best_wall[$name]}"; then
            best_wall[$name]=$wall
        fi
        if [ -z "${best_cpu[$name]:-}" ] || less "$cpu" "${best_cpu[$name]}"; then
            best_cpu[$name]=$cpu
        fi
    done
done
"$build/zqrar" t "$cache/best.rar" >/dev/null || { echo "table.sh: zqrar t failed" >&2; exit 1; }

extract=$("$build/bench/extract_bench" "$corpus" --installer "$cache/installer.exe" \
    --tar "$tar_file" --peer "$cache/corpus.tar.zst" -r "$runs")

best_size=$(size "$cache/best.rar")
zstd_size=$(size "$cache/corpus.tar.zst")
installer_archive=$(($(size "$cache/installer.exe") - stub_size))
corpus_bytes=$(find "$corpus" -type f -printf '%s\n' | awk '{s += $1} END {print s}')

echo "bench/table.sh: $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) CPUs, load $(cut -d' ' -f1-3 /proc/loadavg), best of $runs"
source_dir=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
echo "programs of $build, built from commit $(git -C "${source_dir:-$here}" rev-parse --short HEAD 2>/dev/null || echo '?')" \
    "(uncommitted changes do not show)"
echo "corpus: $(find "$corpus" -type f | wc -l) files, $(grouped "$corpus_bytes") bytes; tar $(grouped "$tar_bytes") bytes"
echo
printf '| %s | %s | %s | %s |\n' "" ours peer ratio
printf '|---|---|---|---|\n'
printf '| `zqpack --best` of the corpus folder | %s B (packed at %s) | `zstd -19 --long=20` of the tar: %s B | %.3f |\n' \
    "$(grouped "$best_size")" "$(pack_rate "$cache/best.rar")" \
    "$(grouped "$zstd_size")" "$(calc "$best_size / $zstd_size")"
mbs() { calc "$tar_bytes / $1 / 1000000"; }
row() { # name label
    printf '| same | | `%s`: %.3f s (%.0f MB/s), CPU %.3f s | ours %.2f × its speed (CPU %.2f ×) |\n' \
        "$2" "${best_wall[$1]}" "$(mbs "${best_wall[$1]}")" "${best_cpu[$1]}" \
        "$(calc "${best_wall[$1]} / ${best_wall[ours]}")" \
        "$(calc "${best_cpu[$1]} / ${best_cpu[ours]}")"
}
printf '| `zqrar t` of that archive | %.3f s (%.0f MB/s), CPU %.3f s | | |\n' \
    "${best_wall[ours]}" "$(mbs "${best_wall[ours]}")" "${best_cpu[ours]}"
row zstd "zstd -dc --long=20"
row gzip "gzip -dc"
row xz "xz -dc"
printf '| default level: the corpus installer (solid, encrypted) | archive %s B, packed at %s | | |\n' \
    "$(grouped "$installer_archive")" "$(pack_rate "$cache/installer.exe")"
ratio=$(sed -n 's/^ratio extract_archive \/ tar -xf: \([0-9.]*\) wall.*, \([0-9.]*\) cpu.*/\1 wall, \2 CPU/p' <<<"$extract")
rss=$(sed -n 's/^peak resident size of the extraction: \([0-9.]*\) MiB.*/\1/p' <<<"$extract")
printf '| extraction of the installer (extract_bench) | %s × `tar -xf`, peak RSS %s MiB | | |\n' \
    "$ratio" "$rss"
ours_extract=$(sed -n 's/^best of [0-9]*: extract_archive \([0-9.]*\) s.*/\1/p' <<<"$extract")
read -r peer_one peer_one_s peer_two peer_two_s < <(sed -n \
    's/^ratio zstd -dc | tar -xf - \/ tar -xf: \([0-9.]*\) wall on one CPU (\([0-9.]*\) s), \([0-9.]*\) wall on two CPUs (\([0-9.]*\) s)/\1 \2 \3 \4/p' \
    <<<"$extract")
printf '| same | | `zstd -dc --long=20 \\| tar -xf -`: %s × `tar -xf` on one CPU (%s s), %s × on two (%s s) | ours %.2f × its speed on one CPU |\n' \
    "$peer_one" "$peer_one_s" "$peer_two" "$peer_two_s" "$(calc "$peer_one_s / $ours_extract")"
echo
grep '^best of' <<<"$extract"
