#!/usr/bin/env bash
# Builds castorel-report optimized (the release preset) and prints its speed and memory on a
# fleet's worth of logs (see report_benchmark.py).
#   bench/report_benchmark.sh [ROUNDS] [SCRATCH_FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release --target castorel-report >/dev/null
exec /usr/bin/python3 bench/report_benchmark.py build/release/castorel-report "${1:-9}" \
  "${2:-build/report-bench}"
