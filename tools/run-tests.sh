#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite through CTest.
# Usage: tools/run-tests.sh [--sanitize]   (--sanitize: AddressSanitizer + UBSan build)
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-tests
flags=(-DCMAKE_BUILD_TYPE=Debug)
if [ "${1:-}" = "--sanitize" ]; then
    build=build-sanitize
    flags+=(-DZPORT_SANITIZE=ON)
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    # Leaks inside Qt's own platform plugins are not ours to chase.
    export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
fi

tools/install-build-deps.sh
cmake -S . -B "$build" "${flags[@]}"
cmake --build "$build" -j"$(nproc)"
cd "$build"
ctest --output-on-failure
