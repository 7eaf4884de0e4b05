#!/usr/bin/env bash
# A patch signed after building (throwaway certificate, osslsigncode) is read
# by mkpatch and applies itself under Wine like the unsigned one.
#   signed_patch_test.sh MKPATCH.EXE APPLIER.EXE PATCH_SESSION.EXE
set -euo pipefail
mkpatch=$1 applier=$2 session=$3
work=$(mktemp -d /tmp/signed-patch.XXXXXX)
trap 'rm -rf "$work"' EXIT
win() { local p; p=$(realpath -m "$1"); echo "Z:${p//\//\\}"; }
wine() { "$WINELOADER" "$@" </dev/null; }
source "$(dirname "$0")/../../tools/wine-env.sh"
applier_stub_args "$(win "$applier")"

mkdir -p "$work/old" "$work/new/sub"
head -c 30000 /dev/urandom >"$work/old/prog.bin"
{ head -c 10000 "$work/old/prog.bin"; echo changed; tail -c +10001 "$work/old/prog.bin"; } >"$work/new/prog.bin"
echo "added with the patch" >"$work/new/sub/added.txt"

wine "$mkpatch" build --old "$(win "$work/old")" --new "$(win "$work/new")" \
  -o "$(win "$work/patch.exe")" "${STUB_ARGS[@]}" --quiet
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Throwaway test signer" \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "signed patch test" \
  -in "$work/patch.exe" -out "$work/signed.exe" >/dev/null
unsigned=$(stat -c %s "$work/patch.exe") signed=$(stat -c %s "$work/signed.exe")
[ "$signed" -gt "$unsigned" ] || { echo "signing added nothing"; exit 1; }

wine "$mkpatch" verify "$(win "$work/signed.exe")" "$(win "$work/old")" >/dev/null ||
  { echo "mkpatch cannot read the signed patch"; exit 1; }
cp -r "$work/old" "$work/target"
wine "$session" "$(win "$work/signed.exe")" "$(win "$work/target")" ||
  { echo "the signed patch did not apply"; exit 1; }
diff -r -x BACKUP "$work/new" "$work/target"
echo "signed patch ($unsigned + $((signed - unsigned)) bytes of signature) applied"
