#!/usr/bin/env bash
# Installs what is missing, builds, makes sure a Chromium that Nimbril can talk to is running
# (starting one with Nimbril's own profile and debugging port when none answers), and starts
# Nimbril from the build's program folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh
bash scripts/install-desktop-entry.sh build/bin/nimbril >/dev/null || true

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "Nimbril is a desktop program: start it from a graphical session (DISPLAY is not set)." >&2
  exit 1
fi

config="${XDG_CONFIG_HOME:-$HOME/.config}"
profile="$config/nimbril/browser-profile"
port="${NIMBRIL_DEBUG_PORT:-9222}"

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
  echo "Starting Chromium with Nimbril's profile ($profile) and debugging port $port." >&2
  mkdir -p "$profile"
  nohup chromium --remote-debugging-port="$port" --user-data-dir="$profile" \
    >"$config/nimbril/chromium.log" 2>&1 &
  for _ in $(seq 1 50); do
    browser_answers && break
    sleep 0.2
  done
fi

exec build/bin/nimbril "$@"
