#!/usr/bin/env bash
# Installs the Debian 12 packages Nimbril needs to build, run and test.
# The one list of packages; README's commands and CI call this script.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config clang-format clang libclang-rt-14-dev
  qt6-base-dev qt6-websockets-dev qt6-svg-dev libgl-dev
  libopencc-dev libopencc-data
  # Chinese user interface: a font with Simplified Chinese (the smallest packaged one that has
  # it), and Qt's own translations of its buttons and file dialogs.
  fonts-wqy-microhei qt6-translations-l10n
  libx11-dev zlib1g-dev libbrotli-dev libzstd-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  chromium curl python3 xvfb xauth openbox trayer xdotool imagemagick x11-utils dbus
  qt6-wayland weston
  # Pointer input on a Wayland desktop in the tests: a headless sway, and a virtual pointer that a
  # small client of the tests speaks to it.
  sway libwayland-dev libwayland-bin
  # The collection viewer's web preview (a module loaded only when a web page is previewed).
  qt6-webengine-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

SUDO=""
if [[ $(id -u) -ne 0 ]]; then
  SUDO="sudo"
fi
echo "Installing: ${missing[*]}" >&2
$SUDO apt-get update -q
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends "${missing[@]}"
