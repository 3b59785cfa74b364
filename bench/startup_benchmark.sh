#!/usr/bin/env bash
# Builds Castorel.exe and a do-nothing console program and prints the startup benchmark's
# figures (see startup_benchmark.py).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target Castorel minimal_console >/dev/null
/usr/bin/python3 bench/startup_benchmark.py build/windows/Castorel.exe \
  build/windows/minimal_console.exe build/windows/bench-pc "${1:-30}"
