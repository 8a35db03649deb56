#!/usr/bin/env bash
# Builds the installer twice from the commit checked out, one build after the
# other, each in a fresh clone of its own with its own build folders (at
# different depths, the second with another time zone and umask), and
# compares the two: the SHA-256 of ZQSETUP.EXE, and every file and folder of
# the demo product the packer read (bytes, mode and modification time,
# which must be the commit's time). Exit status 0 when both are the same.
#
#   scripts/check-reproducible.sh      work folder: build/reproducible (ZQ_REPRO_DIR)
#
# Uncommitted changes are not part of the check: the clones hold the commit.
# The clones are removed when the check passes, and kept when it fails.
set -euo pipefail
cd "$(dirname "$0")/.."

work=$(realpath -m "${ZQ_REPRO_DIR:-build/reproducible}")
commit=$(git rev-parse HEAD)
epoch=$(git log -1 --format=%ct "$commit")
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
    echo "reproducible: uncommitted changes are not part of the check (it builds $commit)"
fi
rm -rf "$work"
mkdir -p "$work"

# build NAME FOLDER TZ UMASK: clones the commit into FOLDER and builds the
# installer there; writes NAME.sha256 and NAME.product (the product folder,
# one line per file or folder) into the work folder.
build() {
    local name=$1 src=$2 tz=$3 mask=$4
    echo "== build $name: $src (TZ=$tz, umask $mask)"
    mkdir -p "$(dirname "$src")"
    git clone -q --no-checkout . "$src"
    git -C "$src" checkout -q --detach "$commit"
    local t0=$SECONDS
    if ! (cd "$src" && umask "$mask" && TZ=$tz bash scripts/build-installer.sh) \
        >"$work/$name.log" 2>&1; then
        tail -n 30 "$work/$name.log"
        echo "reproducible: build $name failed (log: $work/$name.log)"
        exit 1
    fi
    local installer=$src/build/installer/ZQSETUP.EXE
    sha256sum <"$installer" | cut -d' ' -f1 >"$work/$name.sha256"
    echo "   $((SECONDS - t0)) s, SHA-256 $(cat "$work/$name.sha256")"
    (
        cd "$src/build/mingw/demo/product"
        find . -mindepth 1 -printf '%P %y %m %Ts\n' | LC_ALL=C sort
        find . -type f -print0 | LC_ALL=C sort -z | xargs -0 sha256sum
    ) >"$work/$name.product"
}

build first "$work/first/zqsetup" UTC 022
build second "$work/second/a/deeper/folder/zqsetup-again" America/New_York 077

failed=0
if ! cmp -s "$work/first.product" "$work/second.product"; then
    echo "reproducible: the product folders differ (first <, second >):"
    diff "$work/first.product" "$work/second.product" | head -40
    failed=1
fi
stray=$(awk -v t="$epoch" 'NF == 4 && $4 != t' "$work/first.product")
if [ -n "$stray" ]; then
    echo "reproducible: product files without the commit's time ($epoch):"
    echo "$stray"
    failed=1
fi
if ! cmp -s "$work/first.sha256" "$work/second.sha256"; then
    echo "reproducible: the installers differ; first differing bytes (offset, first, second):"
    cmp -l "$work/first/zqsetup/build/installer/ZQSETUP.EXE" \
        "$work/second/a/deeper/folder/zqsetup-again/build/installer/ZQSETUP.EXE" | head -20 || true
    failed=1
fi
echo "first:  $(cat "$work/first.sha256")"
echo "second: $(cat "$work/second.sha256")"
if [ $failed != 0 ]; then
    echo "reproducible: FAILED (clones and logs kept in $work)"
    exit 1
fi
rm -rf "$work/first" "$work/second"
echo "reproducible: the same installer from two builds of $commit"
