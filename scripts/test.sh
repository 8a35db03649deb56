#!/usr/bin/env bash
# Runs every test: the include directions between the layers, unit tests
# natively and under ASan+UBSan, the Windows cross build, signing, the
# formatting check, two installer builds compared byte for byte, the
# end-to-end tests under Wine and a bounded fuzzing run.
# Installs what it needs first. The presets turn compiler warnings into
# errors (ZQ_WERROR).
set -euo pipefail
cd "$(dirname "$0")/.."

echo "== include directions between the layers"
bash scripts/check-layers.sh

bash scripts/install-deps.sh

echo "== native build and unit tests"
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native
# The portable CRC and cipher paths under the whole driver, as on a processor
# without the vector units.
ZQ_NO_VECTOR=1 ctest --preset native -R 'Checksum|Cipher|Extract|Zqrar' >/dev/null

echo "== ASan+UBSan build and unit tests"
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan

echo "== Windows cross build"
cmake --preset mingw >/dev/null
cmake --build --preset mingw

echo "== signed installers (osslsigncode, throwaway certificate)"
bash tests/sign/run.sh

echo "== formatting"
git ls-files -co --exclude-standard '*.cpp' '*.h' | xargs -r clang-format --dry-run -Werror
# The manual pages: groff warns about what it cannot format, without failing.
warnings=$(groff -man -Tutf8 -ww -z tools/*.1 2>&1)
[ -z "$warnings" ] || { echo "$warnings"; exit 1; }

echo "== reproducible installer: two independent builds give the same bytes"
bash scripts/check-reproducible.sh

echo "== end-to-end tests under Wine"
bash tests/e2e/run.sh

echo "== fuzzing (libFuzzer, ASan+UBSan, about a minute per target)"
FUZZ_SECONDS=${FUZZ_SECONDS:-60} bash scripts/fuzz.sh
