#!/usr/bin/env bash
# Installs what building, running and testing Castorel needs on Debian 12; with --tests, also
# what only the tests need (a browser for the report's page). Skips apt-get entirely when
# everything is already there.
set -euo pipefail

packages=(
  cmake ninja-build g++ libgtest-dev googletest   # host build and unit tests
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64   # the Windows cross build
  wine64                                        # the sandbox PC
  python3 python3-pefile                        # icon drawing, sandbox scripting, exe checks
  git osslsigncode openssl                      # the release kit and its signature
  clang-format clang-tidy                       # scripts/lint.sh
  nlohmann-json3-dev libcli11-dev               # castorel-report: its JSON and command line
  clang libclang-rt-14-dev time                 # the report's fuzzing; its benchmark's memory
)
[ "${1:-}" = "--tests" ] && packages+=(chromium)   # the report's page, rendered

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
