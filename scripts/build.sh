#!/usr/bin/env bash
# Configures and builds Nimbril into build/ (Release with debug info): everything, or only the
# targets named (scripts/build.sh nimbril nimbril-capture builds the programs without the tests).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if (($# > 0)); then
  cmake --build build --target "$@"
else
  cmake --build build
fi
