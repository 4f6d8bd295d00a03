#!/usr/bin/env bash
# Which Windows build this machine builds and tests: i686 (the programs that ship) where
# it runs 32-bit x86 code, x86_64 where it does not. WINARCH, when set, decides.
#   scripts/winarch.sh          prints i686 or x86_64; says why on stderr when the
#                               machine's lack of 32-bit support chose x86_64
#   . scripts/winarch.sh        defines winarch, runs_32bit_code and win_build_dir

# Whether this machine executes 32-bit x86 code: tried, not read off kernel settings
# (some kernels list 32-bit emulation and still refuse it). The program is a 96-byte
# static i386 executable that exits with 42 through the 32-bit system call gate, so
# it needs nothing installed. A folder where nothing may be run (mounted noexec) says
# nothing about the machine, so a folder counts only once a script ran from it.
runs_32bit_code() {
  local dir f rc
  for dir in "${TMPDIR:-/tmp}" "$PWD"; do
    f=$(mktemp "$dir/tindra-i386.XXXXXX" 2>/dev/null) || continue
    printf '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$f"
    chmod 700 "$f"
    rc=0
    "$f" 2>/dev/null || rc=$?
    if [ "$rc" != 42 ]; then
      printf '#!/bin/sh\nexit 7\n' >"$f"
      rc=0
      "$f" 2>/dev/null || rc=$?
      rm -f "$f"
      [ "$rc" = 7 ] && return 1
      continue
    fi
    rm -f "$f"
    return 0
  done
  return 1
}

# The build to use: WINARCH when it is set (and valid), else by what the machine runs.
winarch() {
  case "${WINARCH:-}" in
    i686 | x86_64) echo "$WINARCH" ;;
    "")
      if runs_32bit_code; then
        echo i686
      else
        echo "this machine cannot run 32-bit programs: the Windows tests run on the 64-bit build (WINARCH=x86_64)" >&2
        echo x86_64
      fi
      ;;
    *)
      echo "WINARCH must be i686 or x86_64, not '$WINARCH'" >&2
      return 1
      ;;
  esac
}

# The Windows build folder under BUILD for an architecture (default: winarch's).
win_build_dir() {
  case "${2:-${WINARCH:-$(winarch)}}" in
    x86_64) echo "$1/win-x86_64" ;;
    *) echo "$1/win" ;;
  esac
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  winarch
fi
