#!/usr/bin/env bash
# Builds a release and packs what a publisher ships (what `make release` runs):
#   DIST/Tindra-1.00.NNNN-win32.zip   the program folder Tindra/ as a user copies it,
#                                     with README.txt
#   DIST/update-server/               the tree to copy to the update server
# Settings come from the environment, as the Makefile passes them: BUILD, DIST,
# REVISION, UPDATE_HOST, SIGNING_CERT with SIGNING_KEY (the publisher's signing
# certificate and key, handed through to the build) and TRUSTED_CERTS (the
# publisher's next certificates, trusted by the shipped programs). Without a key the
# build signs with its development key and this script says so. With one, the
# release is refused unless the three shipped programs carry it and no other program
# of the build does. No key file is ever copied.
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
trusted=${TRUSTED_CERTS:-}

say() { printf 'release: %s\n' "$*"; }
fail() { printf 'release: %s\n' "$*" >&2; exit 1; }
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
if [ -n "$cert" ] || [ -n "$key" ]; then
  [ -n "$cert" ] && [ -n "$key" ] || fail "give both SIGNING_CERT and SIGNING_KEY, or neither"
  [ -r "$cert" ] || fail "cannot read the signing certificate $cert"
  [ -r "$key" ] || fail "cannot read the signing key $key"
  cert=$(realpath "$cert")
  key=$(realpath "$key")
  signing=(SIGNING_CERT="$cert" SIGNING_KEY="$key")
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
  UPDATE_HOST="$host" "${signing[@]}" TRUSTED_CERTS="${trusted_abs[*]}"

programs=$dist/Tindra
names=(Tindra.exe Vantorel.exe Pellmora.exe)
for f in "${names[@]}"; do
  [ -f "$programs/$f" ] || fail "$programs/$f is missing after the build"
done

# Every program must carry this build's version: a stale file in dist/ must not ship.
verinfo=$build/native/tools/verinfo/tindra-verinfo
for f in "${names[@]}"; do
  got=$({ "$verinfo" "$programs/$f" 2>/dev/null || true; } | sed -n 's/^FileVersion: //p')
  [ "$got" = "$version" ] || fail "$programs/$f has file version '${got:-none}', not $version"
done

# The public keys (DER, as hex) of the certificates in a program's signature; nothing
# when it has none.
signature_keys() {
  local tmp c
  tmp=$(mktemp -d)
  if osslsigncode extract-signature -in "$1" -out "$tmp/sig" >/dev/null 2>&1; then
    openssl pkcs7 -inform DER -in "$tmp/sig" -print_certs 2>/dev/null |
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
  publisher=$(openssl x509 -in "$cert" -noout -pubkey | openssl pkey -pubin -outform DER |
    od -An -v -tx1 | tr -d ' \n')
  [ -n "$publisher" ] || fail "no public key could be read from $cert"
  for f in "${names[@]}"; do
    signature_keys "$programs/$f" | grep -qx "$publisher" ||
      fail "$programs/$f is not signed with the key of $cert; nothing was published"
  done
  leaked=()
  searched=("$dist")
  for d in "$build"/win "$build"/win-x86_64; do [ -d "$d" ] && searched+=("$d"); done
  while IFS= read -r -d '' f; do
    shipped=no
    for s in "${names[@]}"; do
      if cmp -s "$f" "$programs/$s"; then shipped=yes; fi
    done
    [ "$shipped" = yes ] && continue
    if signature_keys "$f" | grep -qx "$publisher"; then leaked+=("$f"); fi
  done < <(find "${searched[@]}" \( -path "$dist/update-server" -o -path "$build/release" \) \
    -prune -o -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0)
  if [ "${#leaked[@]}" != 0 ]; then
    rm -rf "$dist/update-server" "$dist"/Tindra-*-win32.zip
    printf 'release: these programs do not ship but carry the publisher'"'"'s key:\n' >&2
    printf '  %s\n' "${leaked[@]}" >&2
    fail "nothing was published; sign them with the development key (tindra_sign without SHIPS)"
  fi
  say "only the three shipped programs carry the publisher's key"
fi

# Who signed the programs, as osslsigncode reads it (no trust decision is made here).
signer_of() {
  { osslsigncode verify -in "$1" 2>/dev/null || true; } | sed -n 's/^[[:space:]]*Subject: *//p' |
    head -n 1
}
signers=()
unsigned=()
signature=""
if command -v osslsigncode >/dev/null; then
  for f in "${names[@]}"; do
    s=$(signer_of "$programs/$f")
    if [ -n "$s" ]; then signers+=("$f: $s"); else unsigned+=("$f"); fi
  done
  if [ "${#unsigned[@]}" != 0 ]; then
    signature="These programs are not signed."
  elif [ -z "$cert" ]; then
    signature="These programs are signed with a development key: a test build, not for distribution."
  else
    signature="The three programs are signed by $(signer_of "$programs/Tindra.exe" |
      sed 's/^.*CN=//; s/[/,].*$//')."
  fi
else
  signers=("not checked: osslsigncode is missing")
fi

# The package: Tindra/ with the three programs and README.txt (UTF-8 with a byte
# order mark and CRLF line ends, so that Notepad shows the Korean texts).
stage=$build/release
rm -rf "$stage"
mkdir -p "$stage/Tindra"
for f in "${names[@]}"; do cp "$programs/$f" "$stage/Tindra/"; done
port=${host##*:}
[ "$port" = "$host" ] && port=80
{
  printf '\xef\xbb\xbf'
  sed -e "s|@VERSION@|$version|g" -e "s|@UPDATE_HOST@|$host|g" -e "s|@UPDATE_PORT@|$port|g" \
      -e "s|@SIGNATURE@|$signature|" "$here/release-README.txt" | sed 's/$/\r/'
} > "$stage/Tindra/README.txt"

zip=$dist/Tindra-$version-win32.zip
rm -f "$zip"
python3 - "$stage" "$zip" <<'EOF'
import os, sys, zipfile
stage, target = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as z:
    for name in ("Tindra.exe", "Vantorel.exe", "Pellmora.exe", "README.txt"):
        z.write(os.path.join(stage, "Tindra", name), "Tindra/" + name)
EOF

"$here/update-tree.sh" "$programs" "$revision" "$dist/update-server"

# A private key must never leave the build folder.
if grep -rlaq -- "PRIVATE KEY" "$stage" "$dist/update-server" "$zip"; then
  rm -rf "$zip" "$dist/update-server"
  fail "a private key was found in the release output; nothing was published"
fi

say "done:"
printf '  %s\n' "$zip"
python3 -c 'import sys, zipfile; [print("      %8d  %s" % (i.file_size, i.filename)) for i in zipfile.ZipFile(sys.argv[1]).infolist()]' "$zip"
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
