#!/usr/bin/env bash
# Signs the installer (Authenticode, with osslsigncode): the signature goes
# into a certificate table appended behind the archive, where the setup and
# zqrar know the archive to end.
#
#   scripts/sign-installer.sh --cert CERT.pem --key KEY.pem [OPTIONS] INPUT [OUTPUT]
#   scripts/sign-installer.sh --pkcs12 BUNDLE.p12 [OPTIONS] INPUT [OUTPUT]
#
# Options:
#   --cert FILE        the signing certificate in PEM, its chain behind it if any
#   --key FILE         its private key in PEM
#   --pkcs12 FILE      certificate, chain and key in one PKCS#12 file (.p12, .pfx)
#   --pass-file FILE   the password of the key or the PKCS#12 file, first line
#   --timestamp URL    an RFC 3161 time-stamping server to countersign with
#                      (contacted over the network; without it none is)
#
# OUTPUT defaults to INPUT, which is then replaced. The signed file is
# written in a temporary folder beside OUTPUT and moved into place at the
# end, so a failed run leaves OUTPUT as it was. Prints the signed file's
# SHA-256.
set -euo pipefail

usage() {
    sed -n '2,/^set /{/^#/s/^# \{0,1\}//p}' "$0" >&2
    exit 2
}

cert= key= pkcs12= pass_file= timestamp=
files=()
while [ $# -gt 0 ]; do
    case $1 in
    --cert) cert=${2:?--cert needs a file}; shift 2 ;;
    --key) key=${2:?--key needs a file}; shift 2 ;;
    --pkcs12) pkcs12=${2:?--pkcs12 needs a file}; shift 2 ;;
    --pass-file) pass_file=${2:?--pass-file needs a file}; shift 2 ;;
    --timestamp) timestamp=${2:?--timestamp needs a URL}; shift 2 ;;
    -h | --help) usage ;;
    -*) echo "sign-installer: unknown option $1" >&2; usage ;;
    *) files+=("$1"); shift ;;
    esac
done
[ ${#files[@]} = 1 ] || [ ${#files[@]} = 2 ] || usage
input=${files[0]}
output=${files[1]:-$input}

command -v osslsigncode >/dev/null ||
    { echo "sign-installer: osslsigncode is missing (scripts/install-deps.sh)" >&2; exit 1; }
args=(sign -h sha256 -n "ZQ Navigrove 3.20")
if [ -n "$pkcs12" ] && [ -z "$cert$key" ]; then
    args+=(-pkcs12 "$pkcs12")
elif [ -n "$cert" ] && [ -n "$key" ] && [ -z "$pkcs12" ]; then
    args+=(-certs "$cert" -key "$key")
else
    echo "sign-installer: give --cert and --key, or --pkcs12" >&2
    usage
fi
[ -z "$pass_file" ] || args+=(-readpass "$pass_file")
[ -z "$timestamp" ] || args+=(-ts "$timestamp")

work=$(mktemp -d "$(dirname "$output")/.sign-installer.XXXXXX")
trap 'rm -rf "$work"' EXIT
osslsigncode "${args[@]}" -in "$input" -out "$work/signed" >"$work/log" 2>&1 ||
    { cat "$work/log" >&2; exit 1; }
mv "$work/signed" "$output"
echo "signed: $output ($(stat -c %s "$output") bytes)"
sha256sum "$output"
