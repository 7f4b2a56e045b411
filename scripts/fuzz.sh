#!/usr/bin/env bash
# Builds the fuzz preset and runs every libFuzzer target in turn for FUZZ_SECONDS (default 60) on
# its corpus: the committed seeds in fuzz/corpus/<target> are read, new entries go to
# build/fuzz/corpus/<target> only. Fails when a target finds a crash or a broken property (the
# input is kept in build/fuzz/artifacts). FUZZ_TARGETS restricts the run to some targets.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-60}"
jobs="${JOBS:-2}"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"

targets="${FUZZ_TARGETS:-$(ls fuzz/corpus)}"
out=build/fuzz
mkdir -p "$out/artifacts" "$out/logs"
failed=()
for target in $targets; do
  mkdir -p "$out/corpus/$target"
  echo "fuzz: $target for ${seconds}s"
  # The seeds are read, never written: libFuzzer adds new inputs to the first directory only.
  if "$out/bin/fuzz_$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
      -artifact_prefix="$out/artifacts/$target-" "$out/corpus/$target" "fuzz/corpus/$target" \
      >"$out/logs/$target.log" 2>&1; then
    grep -E '^stat::number_of_executed_units' "$out/logs/$target.log" | sed "s/^/  /"
  else
    failed+=("$target")
    tail -n 40 "$out/logs/$target.log"
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: findings in ${failed[*]} (inputs in $out/artifacts, logs in $out/logs)"
  exit 1
fi
