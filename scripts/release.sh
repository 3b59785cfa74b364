#!/usr/bin/env bash
# The release command: installs what it needs, then builds the kit of the current commit from a
# clean checkout (see release.py).
#   scripts/release.sh [--sign CERT.pfx --password-file FILE] [--timestamp URL]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
exec /usr/bin/python3 scripts/release.py "$@"
