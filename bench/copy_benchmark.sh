#!/usr/bin/env bash
# Builds Castorel.exe and prints the copy benchmark's figures (see copy_benchmark.py).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target Castorel >/dev/null
/usr/bin/python3 bench/copy_benchmark.py build/windows/Castorel.exe build/windows/bench-pc "${1:-5}"
