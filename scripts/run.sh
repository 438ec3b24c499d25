#!/usr/bin/env bash
# Installs what is missing, builds Corvale (Release, in build/) and starts the workbench.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/configure.sh

bash scripts/setup.sh
configure_tree build -DCMAKE_BUILD_TYPE=Release
cmake --build build --parallel 2
exec build/shell/corvale "$@"
