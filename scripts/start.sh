#!/usr/bin/env bash
# Installs what is missing, builds, makes sure a Chromium that Nimbril can talk to is running
# (starting one with Nimbril's own profile and debugging port when none answers), and starts
# Nimbril from the build's program folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
# The programs only: the tests and benchmarks take most of a first build.
bash scripts/build.sh nimbril nimbril-capture
bash scripts/install-desktop-entry.sh build/bin/nimbril >/dev/null || true

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "Nimbril is a desktop program: start it from a graphical session (DISPLAY is not set)." >&2
  exit 1
fi

config="${XDG_CONFIG_HOME:-$HOME/.config}"
profile="$config/nimbril/browser-profile"
# The port Nimbril asks first: the one of NIMBRIL_DEVTOOLS when that is set, else
# NIMBRIL_DEBUG_PORT, else 9222.
if [[ -n "${NIMBRIL_DEVTOOLS:-}" ]]; then
  port="${NIMBRIL_DEVTOOLS##*:}"
else
  port="${NIMBRIL_DEBUG_PORT:-9222}"
fi

browser_answers() {
  if [[ -n "${NIMBRIL_DEVTOOLS:-}" ]]; then
    curl -fsS --max-time 2 "http://${NIMBRIL_DEVTOOLS}/json/version" >/dev/null 2>&1 && return 0
  fi
  for dir in "$profile" "$config/chromium" "$config/google-chrome"; do
    if [[ -f "$dir/DevToolsActivePort" ]]; then
      p=$(head -n1 "$dir/DevToolsActivePort")
      (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null && return 0
    fi
  done
  curl -fsS --max-time 2 "http://127.0.0.1:$port/json/version" >/dev/null 2>&1
}

if ! browser_answers; then
  flags=(--remote-debugging-port="$port" --user-data-dir="$profile")
  if [[ $(id -u) -eq 0 ]]; then
    # Chromium refuses to run as root with its sandbox.
    echo "Running as root: Chromium starts with --no-sandbox. Start Nimbril as an ordinary user" \
      "to keep the browser's sandbox." >&2
    flags+=(--no-sandbox)
  fi
  log="$config/nimbril/chromium.log"
  mkdir -p "$profile"
  nohup chromium "${flags[@]}" >"$log" 2>&1 &
  echo "Started Chromium (process $!) with Nimbril's profile ($profile) and debugging port" \
    "$port." >&2
  answered=false
  for _ in $(seq 1 100); do
    if browser_answers; then answered=true; break; fi
    sleep 0.2
  done
  if [[ $answered != true ]]; then
    echo "Chromium did not answer on 127.0.0.1:$port within 20 seconds (its messages are in" \
      "$log). Nimbril starts anyway; its commands say so until a browser answers." >&2
  fi
fi

exec build/bin/nimbril "$@"
