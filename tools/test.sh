#!/bin/sh
# Builds everything with warnings as errors and runs every test; then does the
# same under AddressSanitizer and UndefinedBehaviorSanitizer.
set -e
cd "$(dirname "$0")/.."
sh tools/deps.sh

run_suite() {
    dir=$1; shift
    cmake -S . -B "$dir" -DFLASH_WERROR=ON "$@" >/dev/null
    cmake --build "$dir" -j"$(nproc)"
    (cd "$dir" && QT_QPA_PLATFORM=offscreen ctest -j"$(nproc)" --output-on-failure --timeout 120)
}

run_suite build/test
run_suite build/sanitize -DFLASH_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DFLASH_BENCH=OFF
echo "All tests passed."
