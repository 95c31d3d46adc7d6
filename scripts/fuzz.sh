#!/usr/bin/env bash
# Fuzzes the mask engine and the start-time rules by hand, longer than the test
# run does: scripts/fuzz.sh [seconds per target, 300 unless given]
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

run_fuzzers "${1:-300}"
