#!/usr/bin/env bash
# Installs what is missing, builds and starts KvarnixMonitor.
#   scripts/run.sh          the monitor in the build folder, its database beside it
#   scripts/run.sh --demo   a demo folder with two models and the calculation
#                           simulator, where a row starts within two minutes
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "Ingen skärm hittades: monitorn körs utan fönster (QT_QPA_PLATFORM=offscreen)."
  export QT_QPA_PLATFORM=offscreen
fi

program="$BUILD_DIR/kvarnixmonitor"
if [ "${1:-}" = "--demo" ]; then
  program="$(prepare_demo "$ROOT_DIR/demo")"
  # Each simulated calculation runs this long, so the red state shows a while.
  export KVARNIXSIM_SECONDS="${KVARNIXSIM_SECONDS:-20}"
fi

echo "Startar $program"
exec "$program"
