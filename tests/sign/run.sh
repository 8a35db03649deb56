#!/usr/bin/env bash
# Signed installers, with a throwaway key and self-signed certificate made
# here by openssl: a small product packed behind the real setup, signed by
# scripts/sign-installer.sh (PEM key and certificate, and PKCS#12 with a
# password), for archives whose length leaves no padding and 5 bytes of it
# before the certificate table. Each signed installer verifies against the certificate;
# zqrar tests the same entries as in the unsigned one, extracts the product
# unchanged and names the table as the archive's end; a byte flipped inside
# the archive after signing makes verification fail.
#
#   tests/sign/run.sh
#
# Needs the native build (ZQ_NATIVE_BUILD, default build/native: zqpack,
# zqrar) and the mingw build's ZQSETUP.EXE (ZQ_MINGW_BUILD, default
# build/mingw). The last line is "sign: N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/../.."
native=$(realpath "${ZQ_NATIVE_BUILD:-build/native}")
stub=$(realpath "${ZQ_MINGW_BUILD:-build/mingw}/resources/ZQSETUP.EXE")
sign=$PWD/scripts/sign-installer.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

passed=0
failed=0
check() {
    local what=$1
    shift
    if "$@" >>checks.log 2>&1; then
        echo "  ok   - $what"
        passed=$((passed + 1))
    else
        echo "  FAIL - $what"
        failed=$((failed + 1))
    fi
}
fails() { ! "$@"; }

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=ZQ throwaway signer" \
    -addext extendedKeyUsage=codeSigning -keyout key.pem -out cert.pem >openssl.log 2>&1 &&
    echo "a password" >pass &&
    openssl pkcs12 -export -inkey key.pem -in cert.pem -passout file:pass -out signer.p12 \
        >>openssl.log 2>&1 || {
    cat openssl.log
    echo "sign: 0 passed, 1 failed"
    exit 1
}

mkdir -p product/MAPS
printf 'Start ZQNG.EXE.\r\n' >product/README.TXT
seq 1 4000 >product/ZQNG_DE.HLP
head -c 3000 /dev/urandom >product/MAPS/EUROPE.MAP
cp "$stub" product/ZQNG.EXE

# Packs the product behind the setup; a file whose name grows one character
# at a time makes the installer's length come out at `length mod 8`.
pack() {
    local name=$1 want=$2 pad=PAD
    while [ ${#pad} -lt 20 ]; do
        rm -f product/PAD*
        echo pad >"product/$pad.TXT"
        "$native/zqpack" --stub "$stub" "$name" product >/dev/null || return 1
        [ $(($(stat -c %s "$name") % 8)) = "$want" ] && return 0
        pad=${pad}X
    done
    return 1
}

same_entries() {
    "$native/zqrar" t --installer "$1" >"$1.t" && "$native/zqrar" t --installer "$2" >"$2.t" &&
        diff "$1.t" "$2.t"
}
extracts_product() {
    rm -rf out && "$native/zqrar" x --installer "$1" -o out >/dev/null && diff -r product out
}
ends_at_table() {
    "$native/zqrar" l "$1" |
        grep -qx "Signed: the archive ends at offset $2, where the certificate table begins"
}
# Inverts the byte halfway between the archive's start and its end.
flip_inside_archive() {
    local start end at
    start=$("$native/zqrar" l "$1" | sed -n 's/.* at offset \([0-9]*\), format.*/\1/p')
    at=$(((start + $3) / 2))
    cp "$1" "$2"
    printf "$(printf '\\%03o' $((0xFF ^ $(od -An -tu1 -j"$at" -N1 "$1"))))" |
        dd of="$2" bs=1 seek="$at" conv=notrunc status=none
}

for length in 0 3; do
    padding=$(((8 - length) % 8))
    echo "# an archive ending $padding bytes before an 8-byte boundary"
    pack unsigned.exe "$length" || { failed=$((failed + 1)); continue; }
    size=$(stat -c %s unsigned.exe)
    if [ $length = 0 ]; then
        "$sign" --cert cert.pem --key key.pem unsigned.exe signed.exe >/dev/null
    else
        "$sign" --pkcs12 signer.p12 --pass-file pass unsigned.exe signed.exe >/dev/null
    fi
    check "signed ($([ $length = 0 ] && echo PEM || echo PKCS#12))" test -s signed.exe
    check "the signature verifies" osslsigncode verify -CAfile cert.pem -in signed.exe
    check "the unsigned one does not" fails osslsigncode verify -CAfile cert.pem -in unsigned.exe
    check "the archive ends at the certificate table" ends_at_table signed.exe $((size + padding))
    check "zqrar t --installer: the same entries as unsigned" same_entries unsigned.exe signed.exe
    check "zqrar x --installer: the product, nothing more" extracts_product signed.exe
    flip_inside_archive signed.exe flipped.exe "$size"
    check "a byte flipped inside the archive fails verification" \
        fails osslsigncode verify -CAfile cert.pem -in flipped.exe
done

[ $failed = 0 ] || { echo "# checks.log:"; tail -n 40 checks.log; }
echo "sign: $passed passed, $failed failed"
[ $failed = 0 ]
