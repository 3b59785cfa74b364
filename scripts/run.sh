#!/usr/bin/env bash
# The README's run command: installs what it needs, builds Castorel.exe and runs it once in a
# sandboxed Windows PC under Wine (its own prefix in build/windows/demo-pc). Prints what the tool
# printed, its log as text and its exit status. Each call adds more runs to the same log; the
# report then reads that log back.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

cmake --preset windows >/dev/null
cmake --build --preset windows --target Castorel >/dev/null
/usr/bin/python3 scripts/demo.py build/windows/Castorel.exe build/windows/demo-pc

# What a service line would do with the logs it collected: read them back.
cmake --preset release >/dev/null
cmake --build --preset release --target castorel-report >/dev/null
echo "== castorel-report on the demo PC's log"
build/release/castorel-report build/windows/demo-pc/prefix/drive_c/System.sav/Logs/Castorel.log ||
  echo "(castorel-report exit status $?: a log's last run did not pass)"
