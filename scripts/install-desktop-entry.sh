#!/usr/bin/env bash
# Puts Nimbril into the desktop's application menu for the current user: a launcher
# (~/.local/share/applications/nimbril.desktop) that starts the built program, and its icon in
# the hicolor theme. Run again after moving the checkout; files are replaced atomically.
# Usage: scripts/install-desktop-entry.sh [PROGRAM]   (default: build/bin/nimbril)
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
program="$(realpath -m -- "${1:-$repo/build/bin/nimbril}")"
icon_source="$repo/app/resources/nimbril.svg"

if [[ ! -x "$program" ]]; then
  echo "install-desktop-entry: $program is not there yet; build Nimbril first (scripts/build.sh)." >&2
  exit 1
fi
if [[ "$program" == *$'\n'* || "$program" == *$'\r'* ]]; then
  echo "install-desktop-entry: a program path with a line break cannot go into a launcher." >&2
  exit 1
fi

# XDG_DATA_HOME counts only when it is an absolute path.
data="${XDG_DATA_HOME:-}"
[[ "$data" == /* ]] || data="$HOME/.local/share"
apps="$data/applications"
icons="$data/icons/hicolor/scalable/apps"

# A desktop entry's string escape: every backslash doubled.
string_escape() {
  local s=$1
  printf '%s' "${s//\\/\\\\}"
}

# One quoted Exec argument: the reserved characters get a backslash, a percent sign is doubled,
# and the string escape applies on top, so each added backslash is doubled as well.
exec_quote() {
  local s=$1 out="" c i
  for ((i = 0; i < ${#s}; i++)); do
    c="${s:i:1}"
    case "$c" in
      '"' | '`' | '$' | '\') out+="\\$c" ;;
      %) out+="%%" ;;
      *) out+="$c" ;;
    esac
  done
  printf '"%s"' "$(string_escape "$out")"
}

# Writes stdin to a file through a temporary file beside it, so the old file survives a failure.
install_atomically() {
  local target=$1 mode=$2 tmp
  tmp="$(mktemp "$(dirname "$target")/.$(basename "$target").XXXXXX")"
  trap 'rm -f "$tmp"' EXIT
  cat >"$tmp"
  chmod "$mode" "$tmp"
  mv -f "$tmp" "$target"
  trap - EXIT
}

mkdir -p "$apps" "$icons"
install_atomically "$icons/nimbril.svg" 644 <"$icon_source"
install_atomically "$apps/nimbril.desktop" 644 <<EOF
[Desktop Entry]
Type=Application
Version=1.0
Name=Nimbril
GenericName=Web page collector
Comment=Collect what the web pages open in your browser contain into a folder tree
Exec=$(exec_quote "$program")
TryExec=$(string_escape "$program")
Icon=nimbril
Terminal=false
Categories=Network;Utility;
StartupNotify=false
EOF

if command -v update-desktop-database >/dev/null 2>&1; then
  update-desktop-database -q "$apps" 2>/dev/null || true
fi
echo "Nimbril's launcher: $apps/nimbril.desktop (starts $program)."
