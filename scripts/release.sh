#!/usr/bin/env bash
# Builds a release and packs what a publisher ships (what `make release` runs):
#   DIST/Tindra-1.00.NNNN-win32.zip   the program folder Tindra/ as a user copies it,
#                                     with README.txt, and the kit for messenger
#                                     integrators: tools/tindra-poke.exe, examples/notify.c
#   DIST/Tindra-1.00.NNNN-win32-symbols.zip
#                                     the programs' symbol files, for the publisher only
#   DIST/update-server/               the tree to copy to the update server
# Settings come from the environment, as the Makefile passes them: BUILD, DIST,
# REVISION, UPDATE_HOST, SIGNING_CERT with SIGNING_KEY (the publisher's signing
# certificate and key, handed through to the build: PEM files, or with PKCS11_MODULE
# pkcs11: URIs of a hardware token's objects, the certificate a PEM file or a URI;
# PKCS11_PIN_FILE holds the token's PIN) and TRUSTED_CERTS (the publisher's next
# certificates, trusted by the shipped programs). Without a key the build signs with
# its development key and this script says so. With one, the release is refused
# unless the shipped programs carry it and no other program of the build does. No
# key file is ever copied. NATIVE_TARGETS and WIN_TARGETS, for tests, build only
# those targets.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
cd "$root"

build=${BUILD:-build}
dist=${DIST:-$root/dist}
revision=${REVISION:?make release passes REVISION}
host=${UPDATE_HOST:-127.0.0.1}
cert=${SIGNING_CERT:-}
key=${SIGNING_KEY:-}
module=${PKCS11_MODULE:-}
pin_file=${PKCS11_PIN_FILE:-}
trusted=${TRUSTED_CERTS:-}

say() { printf 'release: %s\n' "$*"; }
fail() { printf 'release: %s\n' "$*" >&2; exit 1; }
# Fails and removes what an earlier release left in dist/, so that nothing stale is
# taken for this one.
refuse() {
  rm -rf "$dist/update-server" "$dist"/Tindra-*-win32.zip "$dist"/Tindra-*-win32-symbols.zip
  fail "$@"
}
warn_dev_key() {  # will be | is
  printf '\n'
  printf 'release: WARNING: this release %s signed with the development key only\n' "$1"
  printf 'release:          (made by the build under %s/win/signing/, trusted by nobody).\n' "$build"
  printf 'release:          Ship only a release built with the publisher'"'"'s key:\n'
  printf 'release:            make release SIGNING_CERT=cert.pem SIGNING_KEY=key.pem\n\n'
}

[[ "$revision" =~ ^[0-9]{1,4}$ ]] || fail "REVISION must be 0 to 9999, not '$revision'"
revision=$((10#$revision))
version=$(printf '1.00.%04d' "$revision")

signing=()
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# The publisher's certificate as a PEM file, for the checks below.
publisher_cert=$cert
if [ -n "$cert" ] || [ -n "$key" ]; then
  [ -n "$cert" ] && [ -n "$key" ] || fail "give both SIGNING_CERT and SIGNING_KEY, or neither"
  if [[ "$key" == pkcs11:* ]]; then
    [ -n "$module" ] || fail "the key $key is in a token: give its PKCS#11 module (PKCS11_MODULE)"
    [ -r "$module" ] || fail "cannot read the PKCS#11 module $module"
    module=$(realpath "$module")
    signing=(SIGNING_KEY="$key" PKCS11_MODULE="$module")
    if [ -n "$pin_file" ]; then
      [ -r "$pin_file" ] || fail "cannot read the PIN file $pin_file"
      pin_file=$(realpath "$pin_file")
      signing+=(PKCS11_PIN_FILE="$pin_file")
    fi
  else
    [ -r "$key" ] || fail "cannot read the signing key $key"
    key=$(realpath "$key")
    signing=(SIGNING_KEY="$key")
  fi
  if [[ "$cert" == pkcs11:* ]]; then
    [[ "$key" == pkcs11:* ]] || fail "the certificate $cert is in a token: its key must be there too"
    publisher_cert=$tmp/publisher-cert.pem
    p11tool --provider "$module" --export "$cert" > "$publisher_cert" 2>/dev/null &&
      openssl x509 -in "$publisher_cert" -noout 2>/dev/null ||
      fail "cannot read the certificate $cert from the token of $module"
  else
    [ -r "$cert" ] || fail "cannot read the signing certificate $cert"
    cert=$(realpath "$cert")
    publisher_cert=$cert
  fi
  signing+=(SIGNING_CERT="$cert")
  say "building revision $revision for update host $host, signed with $cert"
else
  say "building revision $revision for update host $host"
  warn_dev_key "will be"
fi
trusted_abs=()
for c in $trusted; do
  [ -r "$c" ] || fail "cannot read the trusted certificate $c"
  openssl x509 -in "$c" -noout 2>/dev/null || fail "$c is not a PEM certificate"
  trusted_abs+=("$(realpath "$c")")
  say "the shipped programs will also trust the key of $c"
done

# Users get the 32-bit programs, whatever this machine runs itself.
"${MAKE:-make}" --no-print-directory all WINARCH=i686 BUILD="$build" DIST="$dist" REVISION="$revision" \
  UPDATE_HOST="$host" "${signing[@]}" TRUSTED_CERTS="${trusted_abs[*]}" \
  NATIVE_TARGETS="${NATIVE_TARGETS:-}" WIN_TARGETS="${WIN_TARGETS:-}"

programs=$dist/Tindra
names=(Tindra.exe Vantorel.exe Pellmora.exe)
# What ships and carries the publisher's key: the three programs and the integrators'
# client, each with its symbol file in the build.
poke=$dist/tools/tindra-poke.exe
shipped=("$programs/Tindra.exe" "$programs/Vantorel.exe" "$programs/Pellmora.exe" "$poke")
symbols=("$build/win/app/Tindra.exe.debug" "$build/win/vantorel/Vantorel.exe.debug"
         "$build/win/pellmora/Pellmora.exe.debug" "$build/win/tools/poke/tindra-poke.exe.debug")
for f in "${shipped[@]}" "${symbols[@]}" "$root/examples/notify.c"; do
  [ -f "$f" ] || fail "$f is missing after the build"
done

# Every program must carry this build's version: a stale file in dist/ must not ship.
verinfo=$build/native/tools/verinfo/tindra-verinfo
for f in "${names[@]}"; do
  got=$({ "$verinfo" "$programs/$f" 2>/dev/null || true; } | sed -n 's/^FileVersion: //p')
  [ "$got" = "$version" ] || refuse "$programs/$f has file version '${got:-none}', not $version"
done

# The public keys (DER, as hex) of the certificates in a program's signature; nothing
# when it has none.
signature_keys() {
  local tmp c
  tmp=$(mktemp -d)
  # As PEM: a Debian 12's osslsigncode (2.5) writes the raw attribute certificate,
  # header and all, without -pem, where later ones write the bare PKCS#7.
  if osslsigncode extract-signature -pem -in "$1" -out "$tmp/sig" >/dev/null 2>&1; then
    openssl pkcs7 -in "$tmp/sig" -print_certs 2>/dev/null |
      awk -v dir="$tmp" '/-----BEGIN CERTIFICATE-----/ { n++ } n { print > (dir "/cert" n) }'
    for c in "$tmp"/cert*; do
      [ -f "$c" ] || continue
      openssl x509 -in "$c" -noout -pubkey 2>/dev/null | openssl pkey -pubin -outform DER 2>/dev/null |
        od -An -v -tx1 | tr -d ' \n'
      printf '\n'
    done
  fi
  rm -rf "$tmp"
}

# Only what ships carries the publisher's key: the three programs must, and no other
# program the build made (tests, tools, test copies of the three) may, since any of
# them that leaked would be trusted by every installed Tindra.
if [ -n "$cert" ]; then
  publisher=$(openssl x509 -in "$publisher_cert" -noout -pubkey | openssl pkey -pubin -outform DER |
    od -An -v -tx1 | tr -d ' \n')
  [ -n "$publisher" ] || fail "no public key could be read from $cert"
  for f in "${shipped[@]}"; do
    signature_keys "$f" | grep -qx "$publisher" ||
      refuse "$f is not signed with the key of $cert; nothing was published"
  done
  leaked=()
  searched=("$dist")
  for d in "$build"/win "$build"/win-x86_64; do [ -d "$d" ] && searched+=("$d"); done
  while IFS= read -r -d '' f; do
    ships=no
    for s in "${shipped[@]}"; do
      if cmp -s "$f" "$s"; then ships=yes; fi
    done
    [ "$ships" = yes ] && continue
    if signature_keys "$f" | grep -qx "$publisher"; then leaked+=("$f"); fi
  done < <(find "${searched[@]}" \( -path "$dist/update-server" -o -path "$build/release" \) \
    -prune -o -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0)
  if [ "${#leaked[@]}" != 0 ]; then
    printf 'release: these programs do not ship but carry the publisher'"'"'s key:\n' >&2
    printf '  %s\n' "${leaked[@]}" >&2
    refuse "nothing was published; sign them with the development key (tindra_sign without SHIPS)"
  fi
  say "only the shipped programs (the three and tools/tindra-poke.exe) carry the publisher's key"
fi

# Each program's symbols are the file its debug link names, with the checksum it
# records: symbols of another build would resolve its addresses wrongly.
objcopy=$(sed -n 's/^CMAKE_OBJCOPY:FILEPATH=//p' "$build/win/CMakeCache.txt")
for i in "${!shipped[@]}"; do
  "$objcopy" --dump-section .gnu_debuglink="$tmp/link" "${shipped[$i]}" "$tmp/copy" ||
    refuse "${shipped[$i]} has no debug link"
  python3 - "$tmp/link" "${symbols[$i]}" <<'EOF' || refuse "${symbols[$i]} are not the symbols of ${shipped[$i]}"
import os, sys, zlib
link, symbols = (open(path, "rb").read() for path in sys.argv[1:])
name, _, rest = link.partition(b"\0")
crc = int.from_bytes(rest[-4:], "little") if len(rest) >= 4 else None
sys.exit(0 if name.decode() == os.path.basename(sys.argv[2]) and crc == zlib.crc32(symbols) else 1)
EOF
done

# Who signed the programs, as osslsigncode reads it (no trust decision is made here).
signer_of() {
  { osslsigncode verify -in "$1" 2>/dev/null || true; } | sed -n 's/^[[:space:]]*Subject: *//p' |
    head -n 1
}
signers=()
unsigned=()
signature=""
if command -v osslsigncode >/dev/null; then
  for f in "${shipped[@]}"; do
    s=$(signer_of "$f")
    if [ -n "$s" ]; then signers+=("${f#"$dist"/}: $s"); else unsigned+=("${f#"$dist"/}"); fi
  done
  if [ "${#unsigned[@]}" != 0 ]; then
    signature="These programs are not signed."
  elif [ -z "$cert" ]; then
    signature="These programs are signed with a development key: a test build, not for distribution."
  else
    signature="The programs are signed by $(signer_of "$programs/Tindra.exe" |
      sed 's/^.*CN=//; s/[/,].*$//')."
  fi
else
  signers=("not checked: osslsigncode is missing")
fi

# The package: Tindra/ with the three programs and README.txt (UTF-8 with a byte
# order mark and CRLF line ends, so that Notepad shows the Korean texts), and beside
# it the integrators' kit.
stage=$build/release
rm -rf "$stage"
mkdir -p "$stage/Tindra" "$stage/tools" "$stage/examples"
for f in "${names[@]}"; do cp "$programs/$f" "$stage/Tindra/"; done
cp "$poke" "$stage/tools/"
cp "$root/examples/notify.c" "$stage/examples/"
port=${host##*:}
[ "$port" = "$host" ] && port=80
{
  printf '\xef\xbb\xbf'
  sed -e "s|@VERSION@|$version|g" -e "s|@UPDATE_HOST@|$host|g" -e "s|@UPDATE_PORT@|$port|g" \
      -e "s|@SIGNATURE@|$signature|" "$here/release-README.txt" | sed 's/$/\r/'
} > "$stage/Tindra/README.txt"

zip=$dist/Tindra-$version-win32.zip
symbols_zip=$dist/Tindra-$version-win32-symbols.zip
rm -f "$zip" "$symbols_zip"
mkdir -p "$stage/symbols"
cp "${symbols[@]}" "$stage/symbols/"
# zip TARGET FOLDER NAME...: the files NAME of FOLDER, under their names.
pack() {
  python3 - "$@" <<'EOF'
import os, sys, zipfile
target, folder, names = sys.argv[1], sys.argv[2], sys.argv[3:]
with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as z:
    for name in names:
        z.write(os.path.join(folder, name), name)
EOF
}
pack "$zip" "$stage" Tindra/Tindra.exe Tindra/Vantorel.exe Tindra/Pellmora.exe Tindra/README.txt \
  tools/tindra-poke.exe examples/notify.c
# The symbols never go to users: a zip of their own, kept by the publisher.
(cd "$stage/symbols" && pack "$symbols_zip" . *.debug)

"$here/update-tree.sh" "$programs" "$revision" "$dist/update-server"

# A private key must never leave the build folder.
if grep -rlaq -- "PRIVATE KEY" "$stage" "$dist/update-server" "$zip" "$symbols_zip"; then
  rm -rf "$zip" "$symbols_zip" "$dist/update-server"
  fail "a private key was found in the release output; nothing was published"
fi

say "done:"
printf '  %s\n' "$zip"
python3 -c 'import sys, zipfile; [print("      %8d  %s" % (i.file_size, i.filename)) for i in zipfile.ZipFile(sys.argv[1]).infolist()]' "$zip"
printf '  %s  (for the publisher only: the symbols, to resolve crash addresses)\n' "$symbols_zip"
python3 -c 'import sys, zipfile; [print("      %8d  %s" % (i.file_size, i.filename)) for i in zipfile.ZipFile(sys.argv[1]).infolist()]' "$symbols_zip"
printf '  %s/  (copy to the update server as it is)\n' "$dist/update-server"
printf '      download/자동업데이트_v1/  (on disk by its CP949 bytes, %s)\n' \
  "$(python3 -c 'print("".join(chr(b) if b < 128 else "\\x%02x" % b for b in "자동업데이트_v1".encode("cp949")))')"
(cd "$dist/update-server"/download/* && ls | sed 's/^/        /')
say "to publish it, see README.md, \"Publishing an update\""
if [ "${#signers[@]}" != 0 ]; then
  say "signatures:"
  printf '  %s\n' "${signers[@]}"
fi
if [[ "$host" == 127.* ]]; then
  printf '\nrelease: NOTE: the update host is %s, the user'"'"'s own machine; for users, build\n' "$host"
  printf 'release:       with the update server'"'"'s address: make release UPDATE_HOST=<address>\n'
fi
if [ "${#unsigned[@]}" != 0 ]; then
  printf '\nrelease: WARNING: the build left these programs unsigned: %s\n' "${unsigned[*]}"
  printf 'release:          Do not ship this release.\n\n'
elif [ -z "$cert" ]; then
  warn_dev_key is
fi
