#!/usr/bin/env bash
# Runs each fuzz target for a number of executions and prints executions and findings:
#   tests/fuzz/fuzz.sh [RUNS] [--keep]
# Starts from the corpus kept in tests/fuzz/corpus; --keep merges what a run found into it.
# Findings (inputs that failed a check or a sanitizer) go to build/fuzz/findings.
set -euo pipefail
cd "$(dirname "$0")/../.."
runs=${1:-100000}
keep=${2:-}

scripts/setup.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null

findings_total=0
for target in text_fuzz; do
  work=build/fuzz/corpus/$target
  findings=build/fuzz/findings
  mkdir -p "$work" "$findings" "tests/fuzz/corpus/$target"
  cp -n tests/fuzz/corpus/$target/* "$work"/ 2>/dev/null || true
  rm -f "$findings/$target"-*
  log=build/fuzz/$target.log
  status=0
  build/fuzz/tests/fuzz/$target -runs="$runs" -max_len=1500 -print_final_stats=1 \
    -artifact_prefix="$findings/$target-" "$work" >"$log" 2>&1 || status=$?
  done_line=$(grep -E '^Done [0-9]+ runs' "$log" | tail -1 || true)
  executions=$(sed -E 's/^Done ([0-9]+) runs.*/\1/' <<<"${done_line:-Done 0 runs}")
  seconds=$(sed -E 's/.* in ([0-9]+) second.*/\1/' <<<"${done_line:-in 0 second}")
  found=$(find "$findings" -name "$target-*" | wc -l)
  [ "$status" -ne 0 ] && [ "$found" -eq 0 ] && found=1
  findings_total=$((findings_total + found))
  printf '%-20s %12s executions  %3s findings  %5s s\n' "$target" "$executions" "$found" "$seconds"
  if [ "$keep" = "--keep" ]; then
    build/fuzz/tests/fuzz/$target -merge=1 "tests/fuzz/corpus/$target" "$work" >/dev/null 2>&1
  fi
done
echo "fuzz findings: $findings_total"
[ "$findings_total" -eq 0 ]
