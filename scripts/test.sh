#!/usr/bin/env bash
# The README's test command: installs what it needs, builds both builds and runs every test:
# the logic's unit tests on Linux under the sanitizers, a smoke of the fuzz target, then the
# Windows build's tests under Wine (the same unit tests, the platform contract, the scenario
# table played by the real Castorel.exe, its resources, the release kit, and a ten-run soak).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

cmake --preset host >/dev/null
cmake --build --preset host
ctest --preset host -j2

# A short smoke of each fuzz target, from the corpus kept in the repo.
tests/fuzz/fuzz.sh 50000

cmake --preset windows >/dev/null
cmake --build --preset windows
ctest --preset windows
