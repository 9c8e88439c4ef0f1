#!/usr/bin/env bash
# Builds what the benchmarks need and runs them all: the capture benchmark against the peers,
# the start-up benchmark, one large page, the fidelity benchmark (saved pages against the live ones, offline) and
# the two micro-benchmarks. Writes the tables to standard output.
#
#     bash bench/run_all.sh [K] [M] [REPEATS]     (passed on to run_capture_bench.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target nimbril nimbril-capture cdp_snapshot bench_helpers bench_email_merge \
  >/dev/null

bash bench/run_capture_bench.sh "$@"
echo
bash bench/startup_bench.sh
echo
bash bench/big_page_bench.sh
echo
bash bench/run_fidelity_bench.sh
echo
echo "## Micro-benchmarks"
echo
echo '```'
build/bench/bench_helpers --benchmark_repetitions=5 --benchmark_report_aggregates_only=true 2>&1
build/bench/bench_email_merge 2>&1
echo '```'
