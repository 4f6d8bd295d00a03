#!/usr/bin/env bash
# Fuzzes the version-block reader (the PE reader and the scan) with libFuzzer.
#   scripts/fuzz.sh BUILD_DIR SECONDS
# Configures BUILD_DIR/fuzz with clang and TINDRA_FUZZ=ON, seeds the corpus from the
# fixture files of the native build (when built), runs for SECONDS; non-zero when
# the fuzzer finds a crash.
set -euo pipefail
build=${1:-build}
seconds=${2:-300}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(mkdir -p "$build" && cd "$build" && pwd)
fuzz="$build/fuzz"

CC=clang CXX=clang++ cmake -S "$root" -B "$fuzz" -DTINDRA_FUZZ=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$fuzz" --target tindra_fileutil_fuzz -j"$(nproc)" >/dev/null

corpus="$fuzz/corpus"
mkdir -p "$corpus"
fixtures="$build/native/fileutil/tests/fixtures"
if [ -d "$fixtures" ]; then
  cp -f "$fixtures"/*.dll "$corpus"/ 2>/dev/null || true
else
  echo "fuzz: no fixtures in $fixtures (build the native tree to seed the corpus)"
fi

cd "$fuzz"
echo "fuzz: running tindra_fileutil_fuzz for ${seconds}s"
"$fuzz/fileutil/fuzz/tindra_fileutil_fuzz" -max_total_time="$seconds" -max_len=65536 \
  -print_final_stats=1 "$corpus" 2>"$fuzz/fuzz.log" || {
  tail -40 "$fuzz/fuzz.log"
  echo "fuzz: FAILED (crash input saved in $fuzz)"
  exit 1
}
grep -E "^stat::number_of_executed_units|^stat::new_units_added" "$fuzz/fuzz.log" || true
echo "fuzz: no crash"
