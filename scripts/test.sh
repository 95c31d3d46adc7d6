#!/usr/bin/env bash
# Installs what is missing, builds and runs every test, then fuzzes briefly.
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

export QT_QPA_PLATFORM=offscreen
cd "$BUILD_DIR"
ctest --output-on-failure -j2
run_fuzzers 20
