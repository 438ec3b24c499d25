#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: a Release tree in
# build/ and a tree under AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/.
# Both run even when the first fails; the exit status is non-zero if anything failed.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/configure.sh

bash scripts/setup.sh

failed=()
build_and_test() {
  local dir="$1"
  shift
  configure_tree "$dir" "$@" &&
    cmake --build "$dir" --parallel 2 &&
    ctest --test-dir "$dir" --output-on-failure --parallel 2
}

build_and_test build -DCMAKE_BUILD_TYPE=Release || failed+=(build)

export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
build_and_test build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVALE_SANITIZE=ON -DCORVALE_WITH_QT=OFF ||
  failed+=(build-asan)

if ((${#failed[@]} > 0)); then
  echo "test.sh: failed in ${failed[*]}" >&2
  exit 1
fi
echo "test.sh: all tests passed in build/ and build-asan/"
