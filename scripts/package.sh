#!/usr/bin/env bash
# Builds kvarnixmonitor_<version>_amd64.deb in build-package/ (optimised, with the data folder
# /var/lib/kvarnixmonitor built in) and checks it as an administrator would meet it: lintian,
# the installation into a throw-away root with dpkg --root, the menu entry and the units
# there, and the installed service scheduling a row of a demo schedule. Prints the package.
set -euo pipefail

ROOT_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PACKAGE_BUILD_DIR="${PACKAGE_BUILD_DIR:-$ROOT_DIR/build-package}"

fail() {
  echo "Paketet: $*" >&2
  exit 1
}

build_package() {
  CC=clang CXX=clang++ cmake -S "$ROOT_DIR" -B "$PACKAGE_BUILD_DIR" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release -DKVARNIX_TESTS=OFF \
    -DKVARNIX_DATA_DIR=/var/lib/kvarnixmonitor >/dev/null
  cmake --build "$PACKAGE_BUILD_DIR"
  rm -f "$PACKAGE_BUILD_DIR"/kvarnixmonitor_*.deb
  (cd "$PACKAGE_BUILD_DIR" && cpack -G DEB >/dev/null)
}

# Errors fail the check; every other tag is shown.
run_lintian() {
  local deb="$1"
  echo "lintian $(basename "$deb"):"
  lintian --allow-root --fail-on error --info "$deb" || fail "lintian fann fel"
}

# A root of its own for dpkg: its database, and accounts that useradd can add to.
prepare_root() {
  local root="$1"
  mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/log" "$root/etc"
  touch "$root/var/lib/dpkg/status"
  for file in passwd group shadow gshadow; do
    grep '^root:' "/etc/$file" >"$root/etc/$file"
  done
  chmod 640 "$root/etc/shadow" "$root/etc/gshadow"
  cp /etc/login.defs "$root/etc/"
}

install_into() {
  local root="$1" deb="$2"
  # The scripts run outside the root and write into it through DPKG_ROOT; the libraries the
  # programs need are those of this system.
  local said="$root.dpkg.txt"
  dpkg --root="$root" --force-script-chrootless --force-depends --log=/dev/null -i "$deb" \
    >"$said" 2>&1 || { cat "$said" >&2; fail "dpkg --root installerade inte paketet"; }
  rm -f "$said"
  [ -x "$root/usr/bin/kvarnixmonitor" ] && [ -x "$root/usr/bin/kvarnixmonitord" ] &&
    [ -x "$root/usr/bin/kvarnixrun" ] || fail "programmen installerades inte"
  [ ! -e "$root/usr/bin/kvarnixsim" ] || fail "beräkningssimulatorn hör inte till paketet"
  grep -q '^kvarnix:' "$root/etc/passwd" || fail "postinst skapade inte användaren kvarnix"
  [ "$(stat -c %a "$root/var/lib/kvarnixmonitor")" = 2775 ] ||
    fail "/var/lib/kvarnixmonitor är inte skrivbar för gruppen kvarnix"
}

check_installed_files() {
  local root="$1"
  desktop-file-validate "$root/usr/share/applications/kvarnixmonitor.desktop"
  grep -qx 'Exec="/usr/bin/kvarnixmonitor"' "$root/usr/share/applications/kvarnixmonitor.desktop" ||
    fail "menyposten startar inte /usr/bin/kvarnixmonitor"
  for unit in lib/systemd/system/kvarnixmonitord.service lib/systemd/user/kvarnixmonitord.service; do
    grep -q '^ExecStart="/usr/bin/kvarnixmonitord"' "$root/usr/$unit" ||
      fail "$unit startar inte /usr/bin/kvarnixmonitord"
    # The unit as installed, checked against the programs under the root.
    local checked
    checked="$(mktemp -d)"
    sed "s|/usr/bin/kvarnixmonitord|$root/usr/bin/kvarnixmonitord|" "$root/usr/$unit" \
      >"$checked/kvarnixmonitord.service"
    SYSTEMD_LOG_LEVEL=notice systemd-analyze verify --man=no "$checked/kvarnixmonitord.service" ||
      fail "systemd-analyze verify underkänner $unit"
    rm -rf "$checked"
  done
  "$root/usr/bin/kvarnixmonitord" --help | grep -q '/var/lib/kvarnixmonitor/kvarnixmonitor.mdb' ||
    fail "datamappen /var/lib/kvarnixmonitor är inte inbyggd"
}

# The installed service on a demo schedule whose calculation program is the simulator of the
# build: a row due every minute starts at the first wake-up.
check_installed_service() {
  local root="$1" data="$1/demo" said="$1/tjanst.txt"
  "$PACKAGE_BUILD_DIR/kvarnixdemo" "$data" "$PACKAGE_BUILD_DIR/kvarnixsim" >/dev/null 2>&1
  KVARNIXSIM_SECONDS=1 "$root/usr/bin/kvarnixmonitord" --mapp "$data" 2>"$said" &
  local service=$!
  local waited=0
  until grep -q 'har startats' "$said"; do
    sleep 1
    waited=$((waited + 1))
    if [ "$waited" -ge 150 ] || ! kill -0 "$service" 2>/dev/null; then
      kill "$service" 2>/dev/null || true
      cat "$said" >&2
      fail "den installerade tjänsten startade ingen rad"
    fi
  done
  # The installed supervisor started the calculation and keeps its output.
  waited=0
  until compgen -G "$data/utskrifter/korning-*.txt" >/dev/null; do
    sleep 1
    waited=$((waited + 1))
    [ "$waited" -lt 30 ] || fail "den installerade övervakaren skrev ingen utskriftsfil"
  done
  kill -TERM "$service"
  wait "$service" || fail "tjänsten avslutades inte med status 0 på SIGTERM"
  grep -q '^<6>Beräkningen för rad .* har startats\.$' "$said" ||
    fail "starten står inte med prioriteten info"
}

main() {
  build_package
  local deb
  deb="$(ls "$PACKAGE_BUILD_DIR"/kvarnixmonitor_*_amd64.deb)"
  run_lintian "$deb"
  THROWAWAY_ROOT="$(mktemp -d)"
  trap 'rm -rf "$THROWAWAY_ROOT"' EXIT
  prepare_root "$THROWAWAY_ROOT"
  install_into "$THROWAWAY_ROOT" "$deb"
  check_installed_files "$THROWAWAY_ROOT"
  echo "desktop-file-validate och systemd-analyze verify godtar de installerade filerna."
  check_installed_service "$THROWAWAY_ROOT"
  echo "Paketet $(basename "$deb") installeras och kör schemat."
}

main
