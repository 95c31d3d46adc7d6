#!/usr/bin/env bash
# Installs what is missing, builds and runs every test while the fuzzers work briefly beside
# them; most of the longest tests sleep while the real clock turns to the next minute.
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

fuzz_log="$(mktemp)"
package_log="$(mktemp)"
trap 'rm -f "$fuzz_log" "$package_log"' EXIT
# Both at a lower priority: the tests that start thousands of calculations come first.
(renice -n 10 "$BASHPID" >/dev/null && run_fuzzers 20) >"$fuzz_log" 2>&1 &
fuzzing=$!
# The package, built in a folder of its own, installed into a throw-away root and started
# there, while the tests mostly wait for the clock.
nice -n 10 bash "$ROOT_DIR/scripts/package.sh" >"$package_log" 2>&1 &
packaging=$!

export QT_QPA_PLATFORM=offscreen
status=0
(cd "$BUILD_DIR" && ctest --output-on-failure -j10) || status=$?
wait "$packaging" || status=1
grep -v '^\[[0-9]*/[0-9]*\]' "$package_log"
if ! wait "$fuzzing"; then
  cat "$fuzz_log"
  exit 1
fi
echo "Fuzzningen hittade inga fel."
exit "$status"
