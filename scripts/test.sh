#!/usr/bin/env bash
# Installs what is missing, builds and runs every test while the fuzzers work briefly beside
# them; most of the longest tests sleep while the real clock turns to the next minute.
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

fuzz_log="$(mktemp)"
trap 'rm -f "$fuzz_log"' EXIT
run_fuzzers 20 >"$fuzz_log" 2>&1 &
fuzzing=$!

export QT_QPA_PLATFORM=offscreen
status=0
(cd "$BUILD_DIR" && ctest --output-on-failure -j10) || status=$?
# The package, built in a folder of its own, installed into a throw-away root and started there.
bash "$ROOT_DIR/scripts/package.sh" || status=$?
if ! wait "$fuzzing"; then
  cat "$fuzz_log"
  exit 1
fi
echo "Fuzzningen hittade inga fel."
exit "$status"
