#!/usr/bin/env bash
# Long fuzzing: builds the libFuzzer targets with clang in build-fuzz and runs each one for
# SECONDS_PER_TARGET seconds (default 60) on its corpus folder. New crash, hang and leak inputs
# are copied into fuzz/corpus/<target>/ so that the normal test run replays them.
# Usage: fuzz/run_fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
set -euo pipefail

SECONDS_PER_TARGET=${1:-60}
shift || true
HERE=$(cd "$(dirname "$0")" && pwd)
SRC=$(dirname "$HERE")
BUILD="$SRC/build-fuzz"
TARGETS=("$@")
if ((${#TARGETS[@]} == 0)); then
  TARGETS=(ini palette language email cachecopy cdp diskcache stylesheet)
fi

"$SRC/scripts/deps.sh"

cmake -S "$SRC" -B "$BUILD" -G Ninja -DNIMBRIL_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$BUILD" --target "${TARGETS[@]/#/fuzz_}"

# Qt keeps some objects until exit; the fuzzer's leak check would stop every run at the end.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
export LANG=C.UTF-8 LC_ALL=C.UTF-8 QT_QPA_PLATFORM=offscreen

status=0
for t in "${TARGETS[@]}"; do
  corpus="$HERE/corpus/$t"
  work="$BUILD/work/$t"
  artifacts="$BUILD/artifacts/$t"
  rm -rf "$artifacts"
  mkdir -p "$corpus" "$work" "$artifacts"
  echo "== fuzz_$t for ${SECONDS_PER_TARGET}s" >&2
  # New interesting inputs go to the work folder; the committed corpus stays small.
  if ! (cd "$work" && "$BUILD/fuzz/fuzz_$t" -max_total_time="$SECONDS_PER_TARGET" \
      -timeout=10 -rss_limit_mb=4096 -max_len=65536 -artifact_prefix="$artifacts/" \
      -print_final_stats=1 "$work" "$corpus"); then
    status=1
  fi
  for f in "$artifacts"/*; do
    [[ -e $f ]] || continue
    cp "$f" "$corpus/"
    echo "finding kept as $corpus/$(basename "$f")" >&2
  done
done
exit $status
