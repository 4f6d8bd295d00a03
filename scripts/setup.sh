#!/usr/bin/env bash
# Installs everything the build, the tests, the demo, the release and the benchmark need
# on a Debian 12 machine (a minimal one included: nothing is assumed beyond apt).
# Idempotent: returns at once when every package and the Korean locale are present.
#   scripts/setup.sh [EXTRA_PACKAGE...]   (developer tools name theirs, e.g. debootstrap)
set -euo pipefail

PACKAGES=(
  cmake make g++ clang libclang-rt-14-dev python3 git clang-format
  googletest libgtest-dev
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine wine32:i386
  xvfb xauth x11-utils x11-xserver-utils imagemagick
  fonts-nanum locales iproute2 nginx
  osslsigncode openssl libssl-dev
  "$@"
)

need_i386=0
dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1

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
  echo "setup: missing packages (${missing[*]}); run as root to install them" >&2
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
  # mirror caught mid-sync fails one index or another: try again, and then install from
  # the indexes that did arrive (the install itself says plainly what it cannot find).
  updated=0
  for attempt in 1 2 3; do
    if apt-get -o DPkg::Lock::Timeout=600 update -qq; then
      updated=1
      break
    fi
    [ "$attempt" = 3 ] || sleep 20
  done
  [ "$updated" = 1 ] || echo "setup: some package indexes could not be read; installing from the others" >&2
  apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
if [ "$need_locale" = 1 ]; then
  echo "setup: generating the ko_KR.UTF-8 locale"
  sed -i 's/^# *ko_KR.UTF-8 UTF-8/ko_KR.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^ko_KR.UTF-8 UTF-8' /etc/locale.gen || echo 'ko_KR.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi
echo "setup: done"
