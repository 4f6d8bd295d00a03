#!/usr/bin/env bash
# Fails when a C or C++ source of the project differs from what clang-format (the
# repository's .clang-format) makes of it. With --fix, formats them instead.
set -uo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || { echo "format: clang-format is not installed (scripts/setup.sh installs it)" >&2; exit 1; }
command -v git >/dev/null && git rev-parse --git-dir >/dev/null 2>&1 ||
  { echo "format: needs git and a git checkout to list the sources" >&2; exit 1; }
mapfile -t files < <(git ls-files -- '*.cpp' '*.h' '*.c')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
if clang-format --dry-run --Werror "${files[@]}" 2>/tmp/tindra-format.$$; then
  rm -f /tmp/tindra-format.$$
  echo "format: ${#files[@]} files as .clang-format makes them"
  exit 0
fi
grep -o '^[^:]*:[0-9]*:[0-9]*: error' /tmp/tindra-format.$$ | cut -d: -f1 | sort -u |
  sed 's/^/format: differs: /'
rm -f /tmp/tindra-format.$$
echo "format: run scripts/check-format.sh --fix" >&2
exit 1
