#!/usr/bin/env bash
# Installs what is missing, builds, and starts Nimbril from the build's program folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh
exec build/bin/nimbril "$@"
