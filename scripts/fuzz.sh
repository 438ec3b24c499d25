#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# in build-fuzz/ and runs each for SECONDS (default 60) from a corpus seeded with the
# examples, the hand-written seeds under tests/fuzz/seeds/ and objects, executables, maps
# and listings built from the examples. Prints executions per second and coverage per
# target. A crash input is copied to tests/fuzz/regressions/TARGET/, which ctest replays,
# and the script exits 1. Without clang++ it says so and exits 0.
set -uo pipefail

SECONDS_EACH="${1:-60}"
script="${BASH_SOURCE[0]}"
[[ "$script" == */* ]] || script="./$script"
cd "${script%/*}/.." || exit 1
ROOT="$PWD"
CLANGXX="${CLANGXX:-$(command -v clang++ || true)}"
if [[ -z "$CLANGXX" ]]; then
  echo "fuzz.sh: clang++ is not installed; fuzzing skipped"
  exit 0
fi

source scripts/configure.sh
TREE=build-fuzz
configure_tree "$TREE" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$CLANGXX" \
  -DCORVALE_FUZZ=ON >"$TREE.configure.log" 2>&1 || {
  cat "$TREE.configure.log"
  echo "fuzz.sh: configuring $TREE failed" >&2
  exit 1
}
rm -f "$TREE.configure.log"

TARGETS=(asm_tasm asm_masm omf_link mz_loader state_json sim qxvdos tcc listing_map
  trainer_frame ini_file)
BUILD_TARGETS=(corvale_fuzz_replay)
for t in "${TARGETS[@]}"; do BUILD_TARGETS+=("fuzz_$t"); done
cmake --build "$TREE" --parallel "${FUZZ_JOBS:-2}" --target "${BUILD_TARGETS[@]}" || {
  echo "fuzz.sh: building the fuzz targets failed" >&2
  exit 1
}

WORK="$TREE/fuzz-run"
rm -rf "$WORK"
mkdir -p "$WORK"
SEEDS="$WORK/seeds"
for t in "${TARGETS[@]}"; do mkdir -p "$SEEDS/$t"; done
find examples -name '*.asm' -exec cp {} "$SEEDS/asm_tasm/" \; -exec cp {} "$SEEDS/asm_masm/" \;
find examples -name '*.c' -exec cp {} "$SEEDS/tcc/" \;
cp cli/tests/data/*.json "$SEEDS/state_json/" 2>/dev/null
# The toolchain's own objects, executables, maps and listings built from the examples.
ASAN_OPTIONS=detect_leaks=0 "$TREE/tests/fuzz/corvale_fuzz_replay" --write-seeds "$SEEDS" \
  examples || echo "fuzz.sh: no seeds built from the examples"
for t in "${TARGETS[@]}"; do
  [[ -d tests/fuzz/seeds/$t ]] && cp tests/fuzz/seeds/"$t"/* "$SEEDS/$t/"
  [[ -d tests/fuzz/regressions/$t ]] && cp tests/fuzz/regressions/"$t"/* "$SEEDS/$t/" 2>/dev/null
done

failed=()
declare -A EXECS COVER FEATURES RUNS
for t in "${TARGETS[@]}"; do
  corpus="$WORK/corpus/$t"
  artifacts="$WORK/artifacts/$t/"
  mkdir -p "$corpus" "$artifacts"
  echo "== fuzz_$t for ${SECONDS_EACH}s"
  log="$WORK/$t.log"
  # Runs in its own folder: the targets' scratch files and any files a script makes stay there.
  (cd "$WORK" && ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1 \
    "$ROOT/$TREE/tests/fuzz/fuzz_$t" -max_total_time="$SECONDS_EACH" -print_final_stats=1 \
    -timeout=10 -rss_limit_mb=2048 -max_len=65536 -artifact_prefix="$ROOT/$artifacts" \
    "$ROOT/$corpus" "$ROOT/$SEEDS/$t") >"$log" 2>&1
  status=$?
  EXECS[$t]="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)"
  RUNS[$t]="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
  COVER[$t]="$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)"
  FEATURES[$t]="$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)"
  crashes=("$artifacts"*)
  if ((status != 0)) || [[ -e "${crashes[0]}" ]]; then
    failed+=("$t")
    mkdir -p "tests/fuzz/regressions/$t"
    for crash in "${crashes[@]}"; do
      [[ -e "$crash" ]] || continue
      cp "$crash" "tests/fuzz/regressions/$t/"
      echo "fuzz.sh: fuzz_$t: $(basename "$crash") kept as tests/fuzz/regressions/$t/$(basename "$crash")"
    done
    grep -m1 -E 'ERROR: |runtime error|SUMMARY' "$log" || tail -5 "$log"
  fi
done

echo
printf '%-14s %10s %12s %8s %8s  %s\n' target exec/s executions cov ft result
for t in "${TARGETS[@]}"; do
  result=clean
  [[ " ${failed[*]} " == *" $t "* ]] && result=CRASH
  printf '%-14s %10s %12s %8s %8s  %s\n' "$t" "${EXECS[$t]:-?}" "${RUNS[$t]:-?}" \
    "${COVER[$t]:-?}" "${FEATURES[$t]:-?}" "$result"
done
echo "(cov: code edges reached, ft: features; logs in $WORK)"
if ((${#failed[@]})); then
  echo "fuzz.sh: crashes in ${failed[*]}; inputs kept under tests/fuzz/regressions/" >&2
  exit 1
fi
