# Sourced by the benchmarks: a throwaway folder ($work) and the processes a benchmark starts
# ($pids, each added with pids+=($!)). When the script ends, however it ends, those processes
# are ended by their process ids and the folder is removed; stop_started ends them earlier.
work=$(mktemp -d)
pids=()
stop_started() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  pids=()
}
trap 'stop_started; rm -rf "$work"' EXIT
