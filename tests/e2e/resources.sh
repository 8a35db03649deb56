#!/usr/bin/env bash
# The installer as a Windows program: x86-64, GUI subsystem, only the
# system's known DLLs; dialog template 100 control by control; the picture,
# the icon, the manifest and the version; the same build facts and manifests
# for the demo programs.
source "$(dirname "$0")/wine_session.sh"
source "$(dirname "$0")/windows.sh"
source "$(dirname "$0")/product.sh"
case_begin resources

# Libraries every Windows installation has, and among them only known DLLs,
# which the system always takes from System32, never from the folder the
# program was started from (an installer's Downloads folder, the uninstaller's
# temporary folder); nothing of a compiler's runtime, and not COMCTL32 (not a
# known DLL: the common controls come through the manifest).
system_dlls_only() {
    local dll bad=0
    x86_64-w64-mingw32-objdump -p "$1" >"$CASE_DIR/objdump.txt" || return 1
    grep -q 'Magic.*PE32+' "$CASE_DIR/objdump.txt" || bad=1
    grep -q 'Subsystem.*Windows GUI' "$CASE_DIR/objdump.txt" || bad=1
    while read -r dll; do
        case ${dll^^} in
        ADVAPI32.DLL | GDI32.DLL | KERNEL32.DLL | MSVCRT.DLL | OLE32.DLL | SHELL32.DLL | \
            USER32.DLL | COMDLG32.DLL) ;;
        *)
            log "    imports $dll"
            bad=1
            ;;
        esac
    done < <(sed -n 's/.*DLL Name: //p' "$CASE_DIR/objdump.txt")
    return $bad
}
check "ZQSETUP.EXE: PE32+ GUI program importing known DLLs only" system_dlls_only "$E2E_INSTALLER"
check "ZQNG.EXE: PE32+ GUI program importing known DLLs only" system_dlls_only "$E2E_DEMO/ZQNG.EXE"
check "UnInst.exe: PE32+ GUI program importing known DLLs only" \
    system_dlls_only "$E2E_DEMO/UnInst.exe"
# The demo programs carry their manifests byte for byte.
manifest_embedded() {
    python3 -c 'import sys; sys.exit(open(sys.argv[1], "rb").read().find(open(sys.argv[2], "rb").read()) < 0)' \
        "$1" "$2"
}
sources=$(dirname "$0")/../..
check "UnInst.exe carries demo/uninst.manifest (administrator rights)" \
    manifest_embedded "$E2E_DEMO/UnInst.exe" "$sources/demo/uninst.manifest"
check "ZQNG.EXE carries demo/zqng.manifest" \
    manifest_embedded "$E2E_DEMO/ZQNG.EXE" "$sources/demo/zqng.manifest"
# Apart from their names and rights, the same parts as the setup's: the
# systems, common controls 6, DPI awareness.
manifest_parts() {
    grep -v -e 'name="ZQ\.' -e '<description>' -e 'requestedExecutionLevel' "$1"
}
for manifest in "$sources/demo/uninst.manifest" "$sources/demo/zqng.manifest"; do
    check "$(basename "$manifest") has the setup manifest's parts" \
        diff -u <(manifest_parts "$sources/resources/zqsetup.manifest") <(manifest_parts "$manifest")
done

cp "$E2E_INSTALLER" "$(drive_c)/ZQSETUP.EXE"
wine_run "$CASE_DIR/resources.raw" "$E2E_PROBE" resources 'C:\ZQSETUP.EXE'
tr -d '\r' <"$CASE_DIR/resources.raw" >"$CASE_DIR/resources.txt"

# Styles: WS_POPUP|WS_VISIBLE|WS_CAPTION|DS_MODALFRAME|DS_SETFONT|DS_3DLOOK and
# WS_EX_TOPMOST; the children are WS_CHILD (+ WS_VISIBLE but for 107), with
# WS_TABSTOP where the table says so.
cat >"$CASE_DIR/template.expected" <<'LINES'
DIALOG 100 lang=1031 style=0x90c000c4 exstyle=0x00000008 size=0,0,330,237 caption="" font=8,"MS Sans Serif" items=14
ITEM id=1 class="BUTTON" style=0x50010000 exstyle=0x00000000 at=62,216,100,18 text="OK"
ITEM id=2 class="BUTTON" style=0x50010000 exstyle=0x00000000 at=178,216,100,18 text=""
ITEM id=101 class="STATIC" style=0x50000201 exstyle=0x00000000 at=3,10,324,35 text=""
ITEM id=-1 class="STATIC" style=0x5000000e exstyle=0x00000000 at=39,55,137,95 text="#1"
ITEM id=102 class="STATIC" style=0x50000002 exstyle=0x00000000 at=13,162,73,10 text=""
ITEM id=103 class="EDIT" style=0x50810080 exstyle=0x00000000 at=94,161,204,12 text=""
ITEM id=7 class="BUTTON" style=0x50010000 exstyle=0x00000000 at=300,161,13,13 text="..."
ITEM id=104 class="BUTTON" style=0x50000007 exstyle=0x00000000 at=197,74,100,74 text=""
ITEM id=201 class="BUTTON" style=0x50010003 exstyle=0x00000000 at=209,94,80,10 text="Deutsch"
ITEM id=202 class="BUTTON" style=0x50010003 exstyle=0x00000000 at=209,112,80,10 text="English"
ITEM id=203 class="BUTTON" style=0x50010003 exstyle=0x00000000 at=209,130,85,10 text=""
ITEM id=105 class="BUTTON" style=0x50010003 exstyle=0x00000000 at=94,180,149,10 text=""
ITEM id=106 class="BUTTON" style=0x50010003 exstyle=0x00000000 at=94,198,149,10 text=""
ITEM id=107 class="STATIC" style=0x40000000 exstyle=0x00000000 at=64,186,243,10 text=""
LINES
template_matches() {
    grep -E '^(DIALOG|ITEM) ' "$CASE_DIR/resources.txt" | diff -u "$CASE_DIR/template.expected" -
}
check "dialog template 100: German, extended, every control in tab order" template_matches
check "bitmap 1: 205 x 154, 16 colours" grep -qx 'BITMAP 1 size=205x154 bits=4' \
    "$CASE_DIR/resources.txt"
check "icon 1: 32 x 32, 16 colours" grep -qx 'ICON 1 size=32x32 colours=16 bits=4' \
    "$CASE_DIR/resources.txt"
# The manifest as the system reads it, line ends aside: administrator rights,
# Windows 7, 8, 8.1 and 10/11, common controls 6, DPI awareness.
manifest_is() {
    equals "$(sed -n 's/^MANIFEST //p' "$CASE_DIR/resources.txt")" "$(tr -d '\r\n' <"$1")"
}
check "manifest is resources/zqsetup.manifest" manifest_is "$sources/resources/zqsetup.manifest"
manifest_says() { grep -q "^MANIFEST .*$1" "$CASE_DIR/resources.txt"; }
check "manifest asks for administrator rights" \
    manifest_says 'requestedExecutionLevel level="requireAdministrator"'
check "manifest declares Windows 7, 8, 8.1 and 10/11" manifest_says \
    '35138b9a-5d96-4fbd-8e2d-a2440225f93a.*4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38.*1f676c76-80e1-4239-95bb-83d0f6d0da78.*8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a'
check "manifest asks for common controls 6" \
    manifest_says 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"'
check "manifest declares DPI awareness" manifest_says '<dpiAware[^>]*>true</dpiAware>'

check "version 3.20" grep -qx 'VERSION 3.20.0.0' "$CASE_DIR/resources.txt"

# The archive behind the image: where the setup looks for it, every file
# encrypted, the compressed ones one solid stream.
python3 "$(dirname "$0")/installer_archive.py" list "$E2E_INSTALLER" >"$CASE_DIR/archive.txt"
archive_packed_for_the_setup() {
    local offset flags method attributes name compressed=0 bad=0
    {
        read -r _ _ offset
        if [ "${offset:-250000}" -ge 250000 ]; then
            log "    archive at ${offset:-?}"
            bad=1
        fi
        while read -r flags method attributes _ name; do
            flags=$((${flags#flags=}))
            method=${method#method=}
            attributes=$((${attributes#attributes=}))
            ((attributes & 0x10)) && continue
            if ! ((flags & 0x04)); then
                log "    not encrypted: $name"
                bad=1
            fi
            if [ "$method" != 0x30 ] && ((compressed++)) && ! ((flags & 0x10)); then
                log "    not solid: $name"
                bad=1
            fi
        done
    } <"$CASE_DIR/archive.txt"
    [ "$compressed" -gt 0 ] || bad=1
    return $bad
}
check "archive within the setup's scan, encrypted, solid" archive_packed_for_the_setup
