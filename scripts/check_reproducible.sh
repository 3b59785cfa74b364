#!/usr/bin/env bash
# Builds Castorel.exe twice from clean clones of HEAD in two different folders and prints both
# hashes; exits non-zero if they differ.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for copy in first second; do
  git clone -q . "$work/$copy"
  (cd "$work/$copy" && cmake --preset windows >/dev/null && cmake --build --preset windows --target Castorel >/dev/null)
done
sha256sum "$work"/first/build/windows/Castorel.exe "$work"/second/build/windows/Castorel.exe
cmp "$work"/first/build/windows/Castorel.exe "$work"/second/build/windows/Castorel.exe
echo "identical"
