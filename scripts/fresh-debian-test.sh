#!/usr/bin/env bash
# Runs a make target of the current commit on a minimal Debian 12, as a new user would:
# a debootstrap minbase tree with only make, git and ca-certificates added, the commit
# cloned into it, the target run as root with a clean environment. Run it after any
# change to the set-up or to what the tests call; it downloads about a gigabyte the
# first time and takes about 20 minutes.
#   scripts/fresh-debian-test.sh [TARGET...]     (default: test; needs root; WINARCH is passed on)
# The minimal tree is made once and kept under build/fresh-debian/base; every run starts
# from a fresh copy of it outside the project (/var/tmp), so that nothing walking the
# project's folders meets the machine's /proc, /sys and /dev bound into it, and the copy
# is removed once everything is unmounted. Downloaded packages are kept in build/fresh-debian/apt-archives
# so that later runs install the same packages without fetching them again.
# Exits with the target's status.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
targets=("$@")
[ "${#targets[@]}" = 0 ] && targets=(test)
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
security=${DEBIAN_SECURITY_MIRROR:-http://deb.debian.org/debian-security}

[ "$(id -u)" = 0 ] || { echo "fresh-debian: run as root (debootstrap and chroot need it)" >&2; exit 1; }
bash "$here/setup.sh" debootstrap || exit 1

cache=$root/build/fresh-debian
base=$cache/base
archives=$cache/apt-archives
commit=$(git -C "$root" rev-parse HEAD) || exit 1
mkdir -p "$cache" "$archives/partial"

if [ ! -f "$base/.complete" ]; then
  echo "fresh-debian: making a minimal Debian 12 tree in $base"
  rm -rf "$base"
  debootstrap --variant=minbase --include=make,git,ca-certificates bookworm "$base" "$mirror" \
    >"$cache/debootstrap.log" 2>&1 || { echo "fresh-debian: debootstrap failed, see $cache/debootstrap.log" >&2; exit 1; }
  touch "$base/.complete"
fi

tree=""
mounted=()
undo() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" 2>/dev/null
  done
  mounted=()
  [ -n "$tree" ] || return 0
  if grep -qF " $tree/" /proc/mounts; then
    echo "fresh-debian: $tree still has mounts; left in place, unmount and remove it by hand" >&2
  else
    rm -rf --one-file-system "$tree"
  fi
}
trap undo EXIT
trap 'exit 130' INT TERM
bind() {
  mkdir -p "$2" && mount --bind "$1" "$2" && mounted+=("$2") ||
    { echo "fresh-debian: cannot bind $1 to $2" >&2; exit 1; }
}

tree=$(mktemp -d /var/tmp/tindra-fresh-debian.XXXXXX) || exit 1
echo "fresh-debian: a fresh copy of the minimal tree in $tree"
cp -a "$base/." "$tree/" || exit 1
cp /etc/resolv.conf "$tree/etc/resolv.conf" 2>/dev/null || true
# The suites of a Debian 12 installation, written into every copy (a tree kept from
# before has debootstrap's own list, bookworm alone), so the set-up meets what users
# meet, an update suite caught mid-sync included.
cat >"$tree/etc/apt/sources.list" <<SOURCES
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb $security bookworm-security main
SOURCES
git clone -q --no-hardlinks "$root" "$tree/root/tindra" && git -C "$tree/root/tindra" checkout -q "$commit" ||
  { echo "fresh-debian: cannot clone $commit" >&2; exit 1; }

bind /proc "$tree/proc"
bind /sys "$tree/sys"
bind /dev "$tree/dev"
bind /dev/pts "$tree/dev/pts"
bind "$archives" "$tree/var/cache/apt/archives"

# A maintained machine is up to date: its libraries already come from the security suite,
# so an install that would need an older twin of one fails here as it does there.
echo "fresh-debian: apt-get upgrade in the fresh tree"
chroot "$tree" /usr/bin/env -i HOME=/root TERM=dumb DEBIAN_FRONTEND=noninteractive \
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  /bin/bash -c 'apt-get -qq update && apt-get -y -qq upgrade >/dev/null' ||
  echo "fresh-debian: the upgrade failed; going on as a machine that is behind would" >&2
echo "fresh-debian: make ${targets[*]} on $commit"
# WINARCH, when given, chooses the Windows build there too.
chroot "$tree" /usr/bin/env -i HOME=/root TERM=dumb ${WINARCH:+WINARCH=$WINARCH} \
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  /bin/bash -c 'cd /root/tindra && make "$@"' make "${targets[@]}"
status=$?
echo "fresh-debian: make ${targets[*]} exited with $status"
exit $status
