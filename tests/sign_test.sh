#!/usr/bin/env bash
# Signing the release (tools/sign), with a certificate authority and a
# code-signing certificate of its own made here, its key in a .pfx and on a
# SoftHSM token, all removed at the end.
#   sign_test.sh PROGRAM.exe TURN_BIT READOBJ
#       signs a copy of the built program with the .pfx and another through the
#       token, and checks each signature against that authority and another;
#       that taking the signature off gives back the program's bytes, that the
#       signed image's checksum is right; that tools/sign refuses, leaving the
#       file as it was, without a certificate, with a wrong password or PIN;
#       and that its check before ./x dist builds anything refuses them too.
#       TURN_BIT is the build's turn-bit.pl, which turns a bit of an image over;
#       READOBJ is llvm-readobj
#   sign_test.sh --run LOADER PREFIX BIN
#       runs the whole-program test that hands a list over, from a folder of
#       planted DLLs and with its stack guard checked, on a signed copy of
#       BIN/handoff.exe under Wine: the copy sits beside copies of the test, the
#       DLL and the handler it uses, and is the handoff.exe that the test
#       starts. Then
#       makes BIN's Inno installer again around it, signed as ./x dist signs
#       it, and runs the installer test's Inno case, which checks that the
#       uninstaller it installs is signed too
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sign=$root/tools/sign
failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# authority NAME: a self-signed authority in $work/NAME.crt and .key.
authority() {
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=handoff test $1" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -keyout "$work/$1.key" -out "$work/$1.crt" 2>/dev/null
}
# A code-signing certificate of the authority "ca", with its chain and key in
# $work/sign.pfx under the password in $work/password (with a newline, as an
# editor leaves it).
make_certificates() {
  authority ca
  authority wrong-ca
  openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=handoff test signer" \
    -CA "$work/ca.crt" -CAkey "$work/ca.key" -addext "basicConstraints=CA:FALSE" \
    -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
    -keyout "$work/sign.key" -out "$work/sign.crt" 2>/dev/null
  printf 'handoff test password\n' >"$work/password"
  openssl pkcs12 -export -inkey "$work/sign.key" -in "$work/sign.crt" -certfile "$work/ca.crt" \
    -passout "file:$work/password" -out "$work/sign.pfx"
  export HANDOFF_SIGN_PFX=$work/sign.pfx HANDOFF_SIGN_PASSWORD_FILE=$work/password
  unset HANDOFF_SIGN_TIMESTAMP
}

# A SoftHSM token in $work/tokens (SOFTHSM2_CONF names a configuration of its
# own) holding the key of make_certificates, under the PIN in $work/pin, with
# the certificate and its chain in $work/chain.pem; signing goes through it
# from now on. The throwaway PINs may go on softhsm2-util's command line.
softhsm_module=/usr/lib/softhsm/libsofthsm2.so # where Debian's softhsm2 puts it
make_token() {
  mkdir -p "$work/tokens"
  printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$work/tokens" \
    >"$work/softhsm2.conf"
  export SOFTHSM2_CONF=$work/softhsm2.conf
  printf '24680135\n' >"$work/pin"
  softhsm2-util --init-token --free --label "handoff test" --so-pin 13572468 --pin 24680135 >/dev/null
  softhsm2-util --import "$work/sign.key" --token "handoff test" --label "handoff signer" --id 01 \
    --pin 24680135 >/dev/null
  cat "$work/sign.crt" "$work/ca.crt" >"$work/chain.pem"
  unset HANDOFF_SIGN_PFX HANDOFF_SIGN_PASSWORD_FILE
  export HANDOFF_SIGN_PKCS11_MODULE=$softhsm_module HANDOFF_SIGN_CERTS=$work/chain.pem \
    HANDOFF_SIGN_KEY='pkcs11:token=handoff%20test;object=handoff%20signer' HANDOFF_SIGN_PIN_FILE=$work/pin
}

# signed_by_test_signer FILE: a SHA-256 signature of the test signer, which
# verifies against the authority "ca" and not against "wrong-ca".
signed_by_test_signer() {
  if ! osslsigncode verify -CAfile "$work/ca.crt" -in "$1" >"$work/verify" 2>&1; then
    fail "$1: the signature does not verify against its authority: $(tail -n 5 "$work/verify")"
    return
  fi
  grep -q 'Message digest algorithm *: *SHA256' "$work/verify" || fail "$1: not a SHA-256 signature"
  grep -q 'Subject: /CN=handoff test signer' "$work/verify" || fail "$1: not signed by the test signer"
  if osslsigncode verify -CAfile "$work/wrong-ca.crt" -in "$1" >"$work/verify" 2>&1; then
    fail "$1: the signature verifies against an authority that did not issue it"
  fi
}

# The header's load-configuration directory, as llvm-readobj prints it.
load_config_entry() { "$readobj" --file-headers "$1" | grep -E 'LoadConfigTable(RVA|Size):'; }

# checksum_right FILE: the header's checksum is the image's, as the project's
# reader of images sums it, whichever osslsigncode wrote the image.
checksum_right() { cmake -DCHECKSUM_OF="$1" -P "$root/tests/image_reader.cmake" 2>&1; }

static_checks() {
  local program=$1 copy=$work/handoff.exe entry at
  [[ -f "$program" ]] || { echo "no program $program"; exit 1; }
  make_certificates
  cp "$program" "$copy"

  # Signing refuses, leaving the file as it was, and so does the check ./x
  # dist makes before it builds anything, saying SAYING, where one is given.
  #   refused WHY SAYING ENV-ARGS...
  refused() {
    local why=$1 saying=$2
    shift 2
    env "$@" "$sign" "$copy" >"$work/out" 2>&1 && fail "signed $why"
    cmp -s "$copy" "$program" || fail "a refusal $why changed the file"
    [[ -n "$saying" ]] || return 0
    if env "$@" "$sign" --check >"$work/out" 2>&1; then
      fail "tools/sign --check passed $why"
    elif ! grep -qF -- "$saying" "$work/out"; then
      fail "tools/sign --check refused $why without saying \"$saying\": $(cat "$work/out")"
    fi
  }
  refused "without a certificate" "name the certificate and its password" -u HANDOFF_SIGN_PFX
  printf 'not the password\n' >"$work/wrong-password"
  refused "with a wrong password" "does not open with the password" \
    HANDOFF_SIGN_PASSWORD_FILE="$work/wrong-password"
  # A time-stamp server that does not answer (nothing listens on this port):
  # tried again, then refused. The check asks no server.
  refused "without the time stamp asked for" "" HANDOFF_SIGN_TIMESTAMP=http://127.0.0.1:9/
  [[ ! -e "$copy.signing" ]] || fail "a refused signing left $copy.signing"
  "$sign" --check >"$work/out" 2>&1 || fail "tools/sign --check refused the .pfx: $(cat "$work/out")"

  "$sign" "$copy" >"$work/out" 2>&1 || { fail "tools/sign failed: $(cat "$work/out")"; return; }
  cmp -s "$copy" "$program" && fail "the signed copy is the unsigned program"
  signed_by_test_signer "$copy"

  # The signed image's checksum is right, and the check sees a wrong one
  # (one bit of the header's field turned over, 88 bytes on from the PE header).
  checksum_right "$copy" || fail "the signed image's PE checksum is wrong"
  perl "$turn_bit" "$copy" "$work/spoiled.exe" pe+88 0x10
  checksum_right "$work/spoiled.exe" >/dev/null && fail "the checksum check passes a wrong checksum"

  # Signing came after the load configuration was written: the signed image
  # points at it, and a change to that entry afterwards breaks the signature.
  # The entry's size is 84 bytes into the data directories, which begin 96
  # bytes into the optional header, 24 bytes on from the PE header (112 bytes
  # in a 64-bit image).
  entry=$(load_config_entry "$copy")
  [[ "$entry" == "$(load_config_entry "$program")" && "$entry" != *": 0x0"* ]] ||
    fail "the signed image's load-configuration entry is $entry"
  at=pe+204
  [[ $("$readobj" --file-headers "$copy") == *"Magic: 0x20B"* ]] && at=pe+220
  perl "$turn_bit" "$copy" "$work/cleared.exe" $at 0x01
  osslsigncode verify -CAfile "$work/ca.crt" -in "$work/cleared.exe" >"$work/verify" 2>&1 &&
    fail "the signature survives a change to the load-configuration entry"

  # Taking the signature off gives back exactly the built program: anyone can
  # check a signed release against their own unsigned build of the commit. It
  # mends the checksum on the way, so the program's own must be right.
  checksum_right "$program" || fail "the built program's own PE checksum is wrong"
  osslsigncode remove-signature -in "$copy" -out "$work/unsigned.exe" >/dev/null 2>&1 ||
    fail "osslsigncode cannot take the signature off"
  if ! cmp -s "$work/unsigned.exe" "$program"; then
    fail "without its signature the program is not the bytes it was built as:" \
      "$(cmp -l "$work/unsigned.exe" "$program" | head -n 4 | tr '\n' ' ')"
  fi

  # Through the token: a wrong PIN, and each key the token will not give,
  # refused before anything is built; a wrong PIN at signing too.
  make_token
  cp "$program" "$copy"
  printf '11111111\n' >"$work/wrong-pin"
  refused "with a wrong PIN" "the token refused the PIN" HANDOFF_SIGN_PIN_FILE="$work/wrong-pin"
  refused "without a PIN, which the token asks" "without a PIN" -u HANDOFF_SIGN_PIN_FILE
  refused "with a key the token does not hold" "no private key at" \
    HANDOFF_SIGN_KEY='pkcs11:token=handoff%20test;object=other'
  refused "with a PIN in the key's URI" "holds the PIN" HANDOFF_SIGN_KEY="$HANDOFF_SIGN_KEY;pin-value=24680135"
  refused "with both a token and a .pfx" "both a token" HANDOFF_SIGN_PFX="$work/sign.pfx" \
    HANDOFF_SIGN_PASSWORD_FILE="$work/password"
  "$sign" --check >"$work/out" 2>&1 || fail "tools/sign --check refused the token: $(cat "$work/out")"
  "$sign" "$copy" >"$work/out" 2>&1 || { fail "tools/sign failed through the token: $(cat "$work/out")"; return; }
  signed_by_test_signer "$copy"
}

wine_run() {
  local loader=$1 prefix=$2 bin=$3 folder=$work/signed
  if ! "$loader" --version >/dev/null 2>&1; then
    echo "NOT RUN: $loader cannot start on this machine"
    exit 77
  fi
  make_certificates
  make_token
  mkdir -p "$folder"
  cp "$bin/handoff.exe" "$bin/window_test.exe" "$bin/open_recorder.exe" "$bin/installer_test.exe" \
    "$bin/handoff_planted.dll" "$folder/"
  "$sign" "$folder/handoff.exe" >/dev/null
  signed_by_test_signer "$folder/handoff.exe"
  "$root/tools/wine-run" "$loader" "$prefix" "$folder/window_test.exe" \
    --gtest_filter=PromptTest.TakesNoDllFromItsFolderAndGuardsItsStackWithASeededValue 2>&1 | tee "$work/run" || true
  grep -q '^\[  PASSED  \] 1 test' "$work/run" || fail "the signed program did not hand its list over"

  # The Inno installer made as the build makes it (the file beside it holds
  # how), with the signed copy of the program.
  local arguments=() uninstaller
  if [[ ! -f "$bin/installer_test_inno.exe.iscc" ]]; then
    echo "NOT RUN: no Inno installer is built here, whose 32-bit compiler cannot run"
    return
  fi
  mapfile -t arguments <"$bin/installer_test_inno.exe.iscc"
  if ! HANDOFF_INNO_SIGNED_UNINSTALLER=1 "$root/tools/iscc-reproducible" "${arguments[@]:0:3}" \
    "$folder/installer_test_inno.exe" "${arguments[3]}" "$work/inno" "$folder/handoff.exe" "${arguments[@]:4}" \
    >"$work/inno.log" 2>&1; then
    fail "the signed Inno installer was not made: $(cat "$work/inno.log")"
    return
  fi
  for uninstaller in "$work"/inno/signed-uninstaller/uninst-*.e32; do signed_by_test_signer "$uninstaller"; done
  "$sign" "$folder/installer_test_inno.exe" >/dev/null
  "$root/tools/wine-run" "$loader" "$prefix" "$folder/installer_test.exe" --gtest_filter='InnoInstallerTest.*' \
    2>&1 | tee "$work/run" || true
  grep -q '^\[  PASSED  \] 1 test' "$work/run" || fail "the signed Inno installer's test did not pass"
}

if [[ "${1:-}" == --run ]]; then
  (($# == 4)) || { echo "usage: sign_test.sh --run LOADER PREFIX BIN"; exit 2; }
  wine_run "$2" "$3" "$4"
else
  (($# == 3)) || { echo "usage: sign_test.sh PROGRAM.exe TURN_BIT READOBJ"; exit 2; }
  turn_bit=$2 readobj=$3
  static_checks "$1"
fi
if ((failures > 0)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "signing: all checks passed"
