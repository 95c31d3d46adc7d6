#!/usr/bin/env bash
# Starts the demo under a virtual X server and saves a picture of the main
# window once a row has run: scripts/screenshot.sh [output.png] [seconds]
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
PACKAGES=(imagemagick)
install_missing_packages

output="${1:-$ROOT_DIR/docs/screenshot.png}"
wait_seconds="${2:-75}"
display=":$((90 + RANDOM % 9))"

program="$(prepare_demo "$ROOT_DIR/demo")"
Xvfb "$display" -screen 0 1024x640x24 >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill "$monitor_pid" "$xvfb_pid" 2>/dev/null' EXIT
sleep 1

# Short calculations, so the picture shows both a running row and stored times.
DISPLAY="$display" KVARNIXSIM_SECONDS=40 "$program" >/dev/null 2>&1 &
monitor_pid=$!
echo "Väntar $wait_seconds s på att en rad ska köras ..."
sleep "$wait_seconds"
import -display "$display" -window root -trim "$output"
echo "Skärmbild sparad i $output"
