#!/usr/bin/env bash
# The report's reader under libFuzzer (clang, with AddressSanitizer and UBSan), seeded with real
# logs the tool wrote under Wine (tests/fuzz/corpus). Runs for SECONDS (default 60) and exits
# nonzero on any finding; what it learns stays in build/fuzz, never in the seeds.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p build/fuzz/corpus
clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -Isrc \
  src/report/log_reader.cpp tests/fuzz/report_fuzz.cpp -o build/fuzz/report_fuzz
build/fuzz/report_fuzz -max_total_time="${1:-60}" -max_len=4096 -print_final_stats=1 \
  build/fuzz/corpus tests/fuzz/corpus 2>&1 | tail -n 12
