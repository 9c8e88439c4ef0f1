#!/usr/bin/env bash
# Builds the whole test suite with AddressSanitizer and UndefinedBehaviorSanitizer in build-asan
# and runs it with CTest. Extra arguments go to ctest (e.g. -R test_store).
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
SRC=$(dirname "$HERE")
BUILD="$SRC/build-asan"

"$HERE/deps.sh"

cmake -S "$SRC" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$BUILD"

# Qt and the system libraries keep objects alive until exit on purpose; their leak reports would
# bury real findings, so leak checking is off. Every other error stops the test that hit it.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd "$BUILD"
ctest --output-on-failure "$@"
