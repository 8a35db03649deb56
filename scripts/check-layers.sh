#!/usr/bin/env bash
# Fails when an #include "..." goes against the direction of the layers.
# Each file belongs to one layer (the names in the messages), and may include
# its own layer and those listed for it:
#
#   platform  platform/: the seam and the Linux file layer   -> nothing else
#   state     setup/setup_state.*, setup/paths.*             -> platform
#   format    archive/ and unpack/ below the driver          -> platform
#   driver    archive/extract.*                              -> format, state, platform
#   setup     the rest of setup/ (the front end)             -> driver and below
#   pack      pack/                                          -> format, platform
#   tools     tools/; bench likewise                         -> pack, driver and below
#   winmodel  tests/winmodel/ (knows nothing of the product) -> platform
#   tests     the rest of tests/                             -> anything
#
# So the decoder and format primitives never reach setup/ or pack/, the
# platform never knows the product, and no product file includes tests/.
# No build needed; prints each wrong include as FILE:LINE.
set -euo pipefail
cd "$(dirname "$0")/.."

find archive unpack setup platform pack tools bench tests resources demo -type f \
    \( -name '*.cpp' -o -name '*.h' -o -name '*.rc' \) -not -path 'tests/data/*' | sort |
    xargs awk '
    function layer(path) {
        if (path ~ /^platform\//) return "platform"
        if (path ~ /^setup\/(setup_state|paths)\.(h|cpp)$/) return "state"
        if (path ~ /^archive\/extract\.(h|cpp)$/) return "driver"
        if (path ~ /^(archive|unpack)\//) return "format"
        if (path ~ /^setup\//) return "setup"
        if (path ~ /^pack\//) return "pack"
        if (path ~ /^tools\//) return "tools"
        if (path ~ /^bench\//) return "bench"
        if (path ~ /^tests\/winmodel\//) return "winmodel"
        if (path ~ /^tests\//) return "tests"
        if (path ~ /^resources\//) return "resources"
        if (path ~ /^demo\//) return "demo"
        return ""
    }
    BEGIN {
        may["platform"] = " platform "
        may["state"] = " state platform "
        may["format"] = " format platform "
        may["driver"] = " driver format state platform "
        may["setup"] = " setup driver format state platform "
        may["pack"] = " pack format platform "
        may["tools"] = " tools pack driver format state platform "
        may["bench"] = " bench pack driver format state platform "
        may["winmodel"] = " winmodel platform "
        may["tests"] = " tests winmodel bench tools pack setup driver format state platform "
        may["resources"] = " resources setup "
        may["demo"] = " demo "
        bad = 0
    }
    /^[ \t]*#[ \t]*include[ \t]*"/ {
        target = $0
        sub(/^[^"]*"/, "", target)
        sub(/".*$/, "", target)
        to = layer(target)
        # Files of the same folder, or outside the layers, named without it.
        if (to == "") next
        from = layer(FILENAME)
        if (index(may[from], " " to " ") == 0) {
            printf "%s:%d: includes %s: %s may not include %s\n", FILENAME, FNR, target, from, to
            bad = 1
        }
    }
    END { exit bad }
    ' || {
    echo "check-layers: includes against the direction of the layers (see scripts/check-layers.sh)"
    exit 1
}
echo "check-layers: every include goes the right way"
