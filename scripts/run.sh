#!/usr/bin/env bash
# The README's run command: installs what it needs, builds Castorel.exe and runs it once in a
# sandboxed Windows PC under Wine (its own prefix in build/windows/demo-pc). Prints what the tool
# printed, its log as text and its exit status. Each call adds one more run to the same log.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

cmake --preset windows >/dev/null
cmake --build --preset windows --target Castorel >/dev/null
/usr/bin/python3 scripts/demo.py build/windows/Castorel.exe build/windows/demo-pc
