#!/usr/bin/env bash
# Installs what is missing, builds Corvale (Release, in build/) and runs the main program.
# Until the IDE window lands that is the headless runner on the example program, which
# greets, asks for a name on standard input and answers.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/configure.sh

bash scripts/setup.sh
configure_tree build -DCMAKE_BUILD_TYPE=Release
cmake --build build --parallel 2
exec build/cli/corvale-run examples/hello.bin "$@"
