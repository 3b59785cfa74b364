#!/usr/bin/env bash
# The README's test command: installs what it needs, checks the format and lints (lint.sh),
# builds both builds and runs every test: the logic's unit tests and the report's tests on Linux
# under the sanitizers, the report's reader fuzzed for a minute, then the Windows build's tests
# under Wine (the same unit tests, the scenario
# table played by the real Castorel.exe, its resources and first calls, the sandbox PC and the
# release kit).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh --tests
scripts/lint.sh

cmake --preset host >/dev/null
cmake --build --preset host
ctest --preset host -j2
scripts/fuzz.sh 60

cmake --preset windows >/dev/null
cmake --build --preset windows
ctest --preset windows
