#!/usr/bin/env bash
# The installer signed as a release engineer signs it (scripts/sign-installer.sh,
# here with a throwaway self-signed certificate): the signature verifies, and
# the setup installs every file and nothing of the certificate table behind
# its archive.
source "$(dirname "$0")/wine_session.sh"
source "$(dirname "$0")/windows.sh"
source "$(dirname "$0")/product.sh"
case_begin signed_installer

signed=$CASE_DIR/signed.exe
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=ZQ throwaway signer" \
    -addext extendedKeyUsage=codeSigning -keyout "$CASE_DIR/key.pem" \
    -out "$CASE_DIR/cert.pem" >"$CASE_DIR/openssl.log" 2>&1
verifies() {
    osslsigncode verify -CAfile "$CASE_DIR/cert.pem" -in "$signed" >"$CASE_DIR/verify.log" 2>&1
}
check "the installer is signed" bash scripts/sign-installer.sh --cert "$CASE_DIR/cert.pem" \
    --key "$CASE_DIR/key.pem" "$E2E_INSTALLER" "$signed"
check "its signature verifies" verifies

start_setup "$signed"
check "the dialog appears" read_dialog dialog
click 1
check "success message appears" read_message "$SUCCESS_CAPTION" success
press_message_button 1
check "the setup ends after the message" setup_ends 30
check "every file installed with its bytes, nothing more" \
    installed_files_are "$(unix_path "$DEFAULT_TARGET")" DE US '??'
check_recorded_installation "$DEFAULT_TARGET"
