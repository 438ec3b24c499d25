#!/usr/bin/env bash
# package.sh [BUILD_DIR]: builds the programs of a Release tree (build/ by default) and makes
# the Debian package corvale_VERSION_ARCH.deb in that folder.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
source scripts/configure.sh
[[ -f "$build/CMakeCache.txt" ]] || configure_tree "$build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" --parallel 2 --target corvale corvale-run corvale-trainer \
  QXVDOS_EXE TASM_EXE MASM_EXE TLINK_EXE LINK_EXE TCC_EXE QXDEBUG_COM comp86_tcc_headers
(cd "$build" && cpack -G DEB)
ls -l "$build"/corvale_*.deb
