#!/usr/bin/env bash
# Signing the release (tools/sign), with a certificate authority and a
# code-signing certificate of its own made here and removed at the end.
#   sign_test.sh PROGRAM.exe
#       signs a copy of the built program and checks the signature against
#       that authority and against another, that taking the signature off
#       gives back the program's bytes, that the signed image's checksum is
#       right, and that tools/sign refuses, leaving the file as it was, without
#       a certificate or with a wrong password
#   sign_test.sh --run LOADER PREFIX BIN
#       runs the whole-program test that hands a list over on a signed copy of
#       BIN/handoff.exe under Wine: the copy sits beside copies of the test and
#       the handler it uses, and is the handoff.exe that the test starts
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
  openssl req -newkey rsa:2048 -nodes -subj "/CN=handoff test signer" \
    -keyout "$work/sign.key" -out "$work/sign.csr" 2>/dev/null
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' \
    >"$work/sign.ext"
  openssl x509 -req -days 1 -in "$work/sign.csr" -CA "$work/ca.crt" -CAkey "$work/ca.key" \
    -CAcreateserial -extfile "$work/sign.ext" -out "$work/sign.crt" 2>/dev/null
  printf 'handoff test password\n' >"$work/password"
  openssl pkcs12 -export -inkey "$work/sign.key" -in "$work/sign.crt" -certfile "$work/ca.crt" \
    -passout "file:$work/password" -out "$work/sign.pfx"
  export HANDOFF_SIGN_PFX=$work/sign.pfx HANDOFF_SIGN_PASSWORD_FILE=$work/password
  unset HANDOFF_SIGN_TIMESTAMP
}

# The header's load-configuration directory: printed as "RVA SIZE" in hex,
# or, given "clear", emptied (what linking leaves, before
# tools/set-load-config points it at the structure).
load_config_entry() {
  perl -e 'open(F, "+<:raw", $ARGV[0]) or die; local $/; my $h = <F>;
    my $pe = unpack("V", substr($h, 0x3c, 4)); my $opt = $pe + 24;
    my $dirs = $opt + (unpack("v", substr($h, $opt, 2)) == 0x20b ? 112 : 96);
    if ($ARGV[1]) { seek(F, $dirs + 80, 0); print F pack("VV", 0, 0) }
    else { printf "%x %x\n", unpack("VV", substr($h, $dirs + 80, 8)) }' "$@"
}
# Writes over the header's checksum, as a later step that changed the image
# without mending it would leave it.
spoil_checksum() {
  perl -e 'open(F, "+<:raw", $ARGV[0]) or die; read(F, my $h, 0x40); my $pe = unpack("V", substr($h, 0x3c, 4));
    seek(F, $pe + 24 + 64, 0); print F pack("V", 0x1234)' "$1"
}

# checksum_right FILE: the header's checksum is the image's, as the project's
# reader of images sums it (tests/image_reader.cmake), whichever osslsigncode
# wrote the image.
checksum_right() {
  cmake -DCHECKSUM_OF="$1" -P "$root/tests/image_reader.cmake" 2>&1
}

static_checks() {
  local program=$1 copy=$work/handoff.exe entry
  [[ -f "$program" ]] || { echo "no program $program"; exit 1; }
  make_certificates
  cp "$program" "$copy"

  # Refusals leave the file as it was.   refused WHY ENV-ARGS...
  refused() {
    local why=$1
    shift
    env "$@" "$sign" "$copy" >"$work/out" 2>&1 && fail "signed $why"
    cmp -s "$copy" "$program" || fail "a refusal $why changed the file"
  }
  refused "without a certificate" -u HANDOFF_SIGN_PFX
  printf 'not the password\n' >"$work/wrong-password"
  refused "with a wrong password" HANDOFF_SIGN_PASSWORD_FILE="$work/wrong-password"
  # A time-stamp server that does not answer (nothing listens on this port):
  # tried again, then refused.
  refused "without the time stamp asked for" HANDOFF_SIGN_TIMESTAMP=http://127.0.0.1:9/
  [[ ! -e "$copy.signing" ]] || fail "a refused signing left $copy.signing"

  "$sign" "$copy" >/dev/null || { fail "tools/sign failed:" && cat "$work/out"; return; }
  cmp -s "$copy" "$program" && fail "the signed copy is the unsigned program"
  osslsigncode verify -CAfile "$work/ca.crt" -in "$copy" >"$work/verify" 2>&1 ||
    fail "the signature does not verify against its authority: $(tail -n 5 "$work/verify")"
  grep -q 'Message digest algorithm *: *SHA256' "$work/verify" || fail "not a SHA-256 signature"
  grep -q 'Subject: /CN=handoff test signer' "$work/verify" || fail "not signed by the test signer"
  osslsigncode verify -CAfile "$work/wrong-ca.crt" -in "$copy" >"$work/verify" 2>&1 &&
    fail "the signature verifies against an authority that did not issue it"

  # The signed image's checksum is right, and the check sees a wrong one.
  checksum_right "$copy" || fail "the signed image's PE checksum is wrong"
  cp "$copy" "$work/spoiled.exe"
  spoil_checksum "$work/spoiled.exe"
  checksum_right "$work/spoiled.exe" >/dev/null && fail "the checksum check passes a wrong checksum"

  # Signing came after the load configuration was written: the signed image
  # points at it, and emptying that entry afterwards breaks the signature.
  entry=$(load_config_entry "$copy")
  [[ "$entry" == "$(load_config_entry "$program")" && "$entry" != "0 0" ]] ||
    fail "the signed image's load-configuration entry is $entry"
  cp "$copy" "$work/cleared.exe"
  load_config_entry "$work/cleared.exe" clear
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
}

wine_run() {
  local loader=$1 prefix=$2 bin=$3 folder=$work/signed
  if ! "$loader" --version >/dev/null 2>&1; then
    echo "NOT RUN: $loader cannot start on this machine"
    exit 77
  fi
  make_certificates
  mkdir -p "$folder"
  cp "$bin/handoff.exe" "$bin/window_test.exe" "$bin/open_recorder.exe" "$folder/"
  "$sign" "$folder/handoff.exe" >/dev/null
  osslsigncode verify -CAfile "$work/ca.crt" -in "$folder/handoff.exe" >/dev/null 2>&1 ||
    fail "the copy the test runs is not signed"
  "$root/tools/wine-run" "$loader" "$prefix" "$folder/window_test.exe" \
    --gtest_filter=PromptTest.EnterHandsTheListOverInOrderAndTheWindowCloses 2>&1 | tee "$work/run" || true
  grep -q '^\[  PASSED  \] 1 test' "$work/run" || fail "the signed program did not hand its list over"
}

if [[ "${1:-}" == --run ]]; then
  (($# == 4)) || { echo "usage: sign_test.sh --run LOADER PREFIX BIN"; exit 2; }
  wine_run "$2" "$3" "$4"
else
  (($# == 1)) || { echo "usage: sign_test.sh PROGRAM.exe"; exit 2; }
  static_checks "$1"
fi
if ((failures > 0)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "signing: all checks passed"
