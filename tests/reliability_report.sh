#!/usr/bin/env bash
# One report of the reliability figures: the length sweep under the sanitizers, fuzzing, a
# soak with faults under Wine, and coverage.
#   tests/reliability_report.sh [FUZZ_RUNS] [SOAK_RUNS]    (defaults: 10000000 and 100)
set -uo pipefail
cd "$(dirname "$0")/.."
fuzz_runs=${1:-10000000}
soak_runs=${2:-100}
scripts/setup.sh || exit 1
failed=0

echo "== 1. Length sweep (host, AddressSanitizer + UBSan) =="
cmake --preset host >/dev/null && cmake --build --preset host >/dev/null || exit 1
if build/host/tests/castorel_tests --gtest_filter='LengthSweep.*' >build/host/length_sweep.log 2>&1; then
  echo "folder lengths 0-300 x 3 names x 4 layouts = 3608 whole runs, 0-26 fixed drives, and records"
  echo "cut at the capacity: passed,"
  echo "no sanitizer finding, every record ends with CR LF, no cut path copied, no log at a cut name"
else
  failed=1; tail -20 build/host/length_sweep.log
fi

echo; echo "== 2. Fuzzing (libFuzzer, $fuzz_runs executions each) =="
tests/fuzz/fuzz.sh "$fuzz_runs" | grep -vE '^(Installing|$)' || failed=1

echo; echo "== 3. Soak with faults under Wine ($soak_runs runs) =="
cmake --preset windows >/dev/null && cmake --build --preset windows >/dev/null || exit 1
HOLD_FILE_EXE=build/windows/tests/hold_file.exe PLANTED_DLL=build/windows/tests/libplanted_dll.dll \
  /usr/bin/python3 tests/soak.py build/windows/Castorel.exe build/windows/soak-pc \
  --runs "$soak_runs" || failed=1

echo; echo "== 4. Coverage of the unit tests (lines >= 95%, branches >= 90%) =="
tests/coverage.sh 2>/dev/null | grep -vE '^(\(WARNING\)|	|Cannot open|$)' || failed=1

exit $failed
