#!/usr/bin/env bash
# Starts the demo under a virtual X server and saves a picture of the main
# window once one row runs and another has stored its times:
#   scripts/screenshot.sh [output.png] [longest wait in seconds]
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
PACKAGES=(imagemagick)
install_missing_packages

output="${1:-$ROOT_DIR/docs/screenshot.png}"
longest_wait="${2:-240}"
display=":$((90 + RANDOM % 9))"

program="$(prepare_demo "$ROOT_DIR/demo")"
# The listing beside the program reads the same schedule the window shows.
listing="$(dirname "$program")/kvarnixmonitord"
cp "$BUILD_DIR/kvarnixmonitord" "$listing"
Xvfb "$display" -screen 0 1100x560x24 >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill "$monitor_pid" "$xvfb_pid" 2>/dev/null' EXIT
sleep 1

# Short calculations, so the picture can show both a running row and stored times.
DISPLAY="$display" KVARNIXSIM_SECONDS=40 "$program" >/dev/null 2>&1 &
monitor_pid=$!
echo "Väntar på en rad som körs och en med sparade tider (högst $longest_wait s) ..."
for ((waited = 0; waited < longest_wait; waited += 2)); do
  schedule="$("$listing" --list)"
  if grep -q '  körs  ' <<<"$schedule" && grep -qE '  [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:]{8}  -  ' <<<"$schedule"; then
    break
  fi
  sleep 2
done
# The window shows run flags and times within one refresh.
sleep 4
import -display "$display" -window root -trim "$output"
echo "Skärmbild sparad i $output"
