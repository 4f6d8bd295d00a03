#!/usr/bin/env bash
# Runs the Windows tests of a built tree N times in a row, as make test runs them, and
# prints one line per run and then a tally per test: its runs, its failures and where
# each failure left its evidence (scripts/test-evidence.sh).
#   scripts/repeat-tests.sh N [BUILD] [-- CTEST_ARGS...]   (e.g. -- -R PopupWinTest)
# BUILD is the top build folder (build by default); the tree must be built (make all).
# Each run's evidence goes to <win build>/test-evidence/run-<i>/, and each run's CTest
# report to <win build>/repeat/run-<i>.xml. Non-zero when any run failed.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/winarch.sh"
runs=${1:?usage: scripts/repeat-tests.sh N [BUILD] [-- CTEST_ARGS...]}
shift
build=build
if [ $# -gt 0 ] && [ "$1" != -- ]; then
  build=$1
  shift
fi
[ "${1:-}" = -- ] && shift
win=$(cd "$(win_build_dir "$build")" && pwd) || exit 1
[ -f "$win/CTestTestfile.cmake" ] || { echo "repeat-tests: $win is not built (make all)" >&2; exit 1; }
slots=$(grep -c '"id"' "$win/test-slots.json")
rm -rf "$win/repeat" "$win"/test-evidence/run-*
mkdir -p "$win/repeat"
(cd "$win" && bash "$here/wine-slot.sh" true) || exit 1

status=0
for i in $(seq "$runs"); do
  began=$(date +%s)
  TINDRA_EVIDENCE_RUN=run-$i ctest --test-dir "$win" -j "$slots" \
    --resource-spec-file "$win/test-slots.json" --output-junit "$win/repeat/run-$i.xml" "$@" \
    >"$win/repeat/run-$i.log" 2>&1 || status=1
  python3 - "$win/repeat/run-$i.xml" "$i" "$runs" "$(($(date +%s) - began))" <<'EOF'
import sys
import xml.etree.ElementTree as ET
cases = ET.parse(sys.argv[1]).getroot().iter("testcase")
failed = [c.get("name") for c in cases if c.get("status") == "fail"]
total = len(list(ET.parse(sys.argv[1]).getroot().iter("testcase")))
what = "passed" if not failed else "FAILED %d: %s" % (len(failed), ", ".join(failed))
print("run %s/%s: %d tests in %s s, %s" % (sys.argv[2], sys.argv[3], total, sys.argv[4], what),
      flush=True)
EOF
done

python3 - "$win" "$runs" <<'EOF'
import os
import sys
import xml.etree.ElementTree as ET
win, runs = sys.argv[1], int(sys.argv[2])
tally = {}
for i in range(1, runs + 1):
    for case in ET.parse(os.path.join(win, "repeat", "run-%d.xml" % i)).getroot().iter("testcase"):
        name = case.get("name")
        entry = tally.setdefault(name, {"runs": 0, "failures": []})
        entry["runs"] += 1
        if case.get("status") == "fail":
            folder = os.path.join(win, "test-evidence", "run-%d" % i,
                                  "".join(ch if ch.isalnum() or ch in "._-" else "_" for ch in name))
            entry["failures"].append(folder if os.path.isdir(folder) else
                                     "run %d (no evidence kept; see %s)" %
                                     (i, os.path.join(win, "repeat", "run-%d.log" % i)))
failing = {n: e for n, e in tally.items() if e["failures"]}
print("== %d tests over %d runs: %d failed at least once" % (len(tally), runs, len(failing)))
for name, entry in sorted(failing.items()):
    print("%-70s %d runs, %d failed" % (name, entry["runs"], len(entry["failures"])))
    for where in entry["failures"]:
        print("    " + where)
EOF
exit $status
