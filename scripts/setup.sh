#!/usr/bin/env bash
# Installs what the build, the tests, the demo, the release and the benchmark need on a
# Debian 12 machine (a minimal one included: nothing is assumed beyond apt).
# Idempotent: returns at once when every package and the Korean locale are present.
#   scripts/setup.sh [--wine] [EXTRA_PACKAGE...]
# Without --wine it installs what builds (the compilers, signing and packing tools):
# that is all a release needs. --wine adds the Wine that runs the Windows build of
# WINARCH (see scripts/winarch.sh): the 32-bit one, with the i386 architecture, only
# where the i686 programs will really run; the 64-bit one for x86_64. Nothing for i386
# is ever installed on a machine that cannot run 32-bit code. The 32-bit compilers are
# always there, since a release ships the 32-bit programs. Developer tools name their
# own extra packages (e.g. debootstrap).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/winarch.sh"
arch=$(winarch)
want_wine=0
if [ "${1:-}" = --wine ]; then
  want_wine=1
  shift
fi

PACKAGES=(
  cmake make g++ clang libclang-rt-14-dev python3 git clang-format
  googletest libgtest-dev
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
)
[ "$arch" = x86_64 ] &&
  PACKAGES+=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64)
need_i386=0
if [ "$want_wine" = 1 ]; then
  if [ "$arch" = x86_64 ]; then
    PACKAGES+=(wine64)
  elif runs_32bit_code; then
    PACKAGES+=(wine wine32:i386)
    dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1
  else
    echo "setup: this machine cannot run 32-bit programs, so no 32-bit Wine is installed; its Windows tests take WINARCH=x86_64" >&2
  fi
fi
PACKAGES+=(
  xvfb xauth x11-utils x11-xserver-utils imagemagick
  fonts-nanum locales iproute2 nginx
  osslsigncode openssl libssl-dev
  # Signing from a hardware token: osslsigncode's PKCS#11 engine, p11tool to read a
  # token's certificate, and SoftHSM2, the software token the release test signs with.
  # opensc: the PKCS#11 module of common hardware tokens and pkcs11-tool.
  libengine-pkcs11-openssl gnutls-bin softhsm2 opensc
  "$@"
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

need_locale=0
locale -a 2>/dev/null | grep -qix 'ko_KR.utf8' || need_locale=1

if [ "$need_i386" = 0 ] && [ "${#missing[@]}" = 0 ] && [ "$need_locale" = 0 ]; then
  exit 0
fi

if [ "$(id -u)" != 0 ]; then
  # The build folder and the Wine prefix are the user's own: only the packages need root.
  what=("${missing[@]}")
  [ "$need_locale" = 1 ] && what+=("the ko_KR.UTF-8 locale")
  [ "$need_i386" = 1 ] && what+=("the i386 architecture")
  echo "setup: missing ${what[*]}; run 'sudo${WINARCH:+ WINARCH=$WINARCH} scripts/setup.sh --wine' once, then make as yourself" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if [ "$need_i386" = 1 ]; then
  echo "setup: adding the i386 architecture"
  dpkg --add-architecture i386
fi
if [ "${#missing[@]}" != 0 ] || [ "$need_i386" = 1 ]; then
  echo "setup: installing ${missing[*]}"
  # Packages with a service (nginx) must not start it: the tests run their own web
  # server on a private configuration, and port 80 stays free for the demo.
  policy=/usr/sbin/policy-rc.d
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' > "$policy"
    chmod 755 "$policy"
    trap 'rm -f "$policy"' EXIT
  fi
  # Another apt run may hold the package lock for a while: wait for it, not fail. A
  # mirror caught mid-sync fails one index or another (one suite, one architecture):
  # try again, then install from what could be read; only when that fails, take every
  # package from the release's own suites.
  apt=(apt-get -o DPkg::Lock::Timeout=600)
  for attempt in 1 2 3; do
    "${apt[@]}" update -qq && break
    if [ "$attempt" != 3 ]; then sleep 20; else echo "setup: some package indexes could not be read" >&2; fi
  done
  release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  install=(install -y -qq --no-install-recommends "${missing[@]}")
  cannot_install() { echo "setup: the packages could not be installed (see apt's errors above)" >&2; exit 1; }
  if ! "${apt[@]}" "${install[@]}" >/dev/null; then
    [ -n "$release" ] || cannot_install
    echo "setup: trying again with every package from the $release suites" >&2
    "${apt[@]}" -o "APT::Default-Release=$release" "${install[@]}" >/dev/null || cannot_install
  fi
fi
if [ "$need_locale" = 1 ]; then
  echo "setup: generating the ko_KR.UTF-8 locale"
  sed -i 's/^# *ko_KR.UTF-8 UTF-8/ko_KR.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^ko_KR.UTF-8 UTF-8' /etc/locale.gen || echo 'ko_KR.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi
echo "setup: done"
