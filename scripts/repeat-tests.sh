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

# Reads CTest's JUnit reports: "line I SECONDS" prints run I's line, "tally" the tally of
# every run. Evidence folders are named as test-evidence.sh names them.
report() {
  python3 - "$win" "$runs" "$@" <<'EOF'
import os
import re
import sys
import xml.etree.ElementTree as ET
win, runs, what = sys.argv[1], int(sys.argv[2]), sys.argv[3]


def cases(i):
    path = os.path.join(win, "repeat", "run-%d.xml" % i)
    return [(c.get("name"), c.get("status") == "fail")
            for c in ET.parse(path).getroot().iter("testcase")]


if what == "line":
    i = int(sys.argv[4])
    run = cases(i)
    failed = [name for name, fail in run if fail]
    verdict = "passed" if not failed else "FAILED %d: %s" % (len(failed), ", ".join(failed))
    print("run %d/%d: %d tests in %s s, %s" % (i, runs, len(run), sys.argv[5], verdict), flush=True)
    sys.exit(0)
tally = {}
for i in range(1, runs + 1):
    for name, fail in cases(i):
        entry = tally.setdefault(name, {"runs": 0, "failures": []})
        entry["runs"] += 1
        if fail:
            folder = os.path.join(win, "test-evidence", "run-%d" % i,
                                  re.sub(r"[^A-Za-z0-9._-]", "_", name))
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
}

status=0
for i in $(seq "$runs"); do
  began=$(date +%s)
  TINDRA_EVIDENCE_RUN=run-$i ctest --test-dir "$win" -j "$slots" \
    --resource-spec-file "$win/test-slots.json" --output-junit "$win/repeat/run-$i.xml" "$@" \
    >"$win/repeat/run-$i.log" 2>&1 || status=1
  report line "$i" "$(($(date +%s) - began))"
done
report tally
exit $status
