#!/usr/bin/env bash
# The tool's contract: 13 entries and the version number on standard output (exit 0);
# nothing there and a message on standard error for a file without a block (exit 1);
# usage on standard error without a file (exit 2).
#   verinfo_test.sh TOOL FIXTURE_DIR
set -u
tool=$1
dir=$2
fail() { echo "FAIL: $*"; exit 1; }

out=$("$tool" "$dir/own.dll" 2>/dev/null); rc=$?
[ "$rc" = 0 ] || fail "exit $rc for own.dll"
[ "$(printf '%s\n' "$out" | wc -l)" = 14 ] || fail "not 14 lines: $out"
printf '%s\n' "$out" | head -1 | grep -q '^CompanyName: ' || fail "first line: $out"
printf '%s\n' "$out" | sed -n 13p | grep -q '^Language' || fail "13th line: $out"
printf '%s\n' "$out" | tail -1 | grep -q '^Version number: ' || fail "last line: $out"
[ -z "$(printf '%s' "$out" | tr -d -c '\r')" ] || fail "carriage returns in the output"

out=$("$tool" "$dir/not_pe.txt" 2>"$dir/verinfo_test.err"); rc=$?
[ "$rc" = 1 ] || fail "exit $rc for a file without a block"
[ -z "$out" ] || fail "output for a file without a block: $out"
grep -q 'not_pe.txt' "$dir/verinfo_test.err" || fail "no message naming the file"

"$tool" >/dev/null 2>&1; rc=$?
[ "$rc" = 2 ] || fail "exit $rc without a file"
echo "ok"
