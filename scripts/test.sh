#!/usr/bin/env bash
# Installs what is missing, builds, fuzzes briefly and runs every test; the
# test summary comes last.
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

check_narrowing
run_fuzzers 20
export QT_QPA_PLATFORM=offscreen
cd "$BUILD_DIR"
ctest --output-on-failure -j2
