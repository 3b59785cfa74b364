#!/usr/bin/env bash
# What a maintainer runs before each commit, and CI first: the format stated in .clang-format
# (src/, tests/, bench/), then clang-tidy's checks in .clang-tidy over src/ as each build
# compiles it: the logic through the host build's compile database, the Windows calls through
# the Windows build's, with the cross compiler's C++ headers. Exits nonzero on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset host >/dev/null
cmake --preset windows >/dev/null

git ls-files 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'bench/*.cpp' |
  xargs clang-format --dry-run --Werror

# clang-tidy counts the system headers' warnings it hides; only findings are worth a line.
tidy() { clang-tidy --quiet "$@" 2> >(grep -v ' warnings\? generated\.$' >&2); }

mapfile -t logic < <(git ls-files 'src/*.cpp' | grep -v '_win32\.cpp$')
tidy -p build/host "${logic[@]}"

cross_headers=(--extra-arg=--target=x86_64-w64-mingw32)
while read -r folder; do
  cross_headers+=("--extra-arg=-isystem$folder")
done < <(x86_64-w64-mingw32-g++-posix -x c++ -E -v /dev/null 2>&1 |
         sed -n '/^#include <...> search starts here:/,/^End of search list/p' |
         sed -n 's/^ \(.*\/include\/c++.*\)$/\1/p')
mapfile -t windows < <(git ls-files 'src/*_win32.cpp')
tidy -p build/windows "${cross_headers[@]}" "${windows[@]}"
echo "lint: format and clang-tidy clean"
