#!/usr/bin/env bash
# Builds Castorel.exe and the bare copy program and prints the copy benchmark's figures (see
# copy_benchmark.py). Usage: bench/copy_benchmark.sh [ROUNDS] [CASTOREL_EXE] [SHAPE]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target Castorel bare_copy >/dev/null
/usr/bin/python3 bench/copy_benchmark.py "${2:-build/windows/Castorel.exe}" \
  build/windows/bare_copy.exe build/windows/bench-pc "${1:-9}" "${3:-}"
