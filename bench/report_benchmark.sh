#!/usr/bin/env bash
# Builds castorel-report optimized (the release preset) and prints its speed and memory on a
# fleet of a million logs (see report_benchmark.py); the fleet is kept in the scratch folder.
#   bench/report_benchmark.sh [ROUNDS] [SCRATCH_FOLDER] [LOGS] [JOBS]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release --target castorel-report >/dev/null
exec /usr/bin/python3 bench/report_benchmark.py build/release/castorel-report "${1:-5}" \
  "${2:-build/report-bench}" "${3:-1000000}" ${4:+"$4"}
