# Shared by run.sh and test.sh: installs the Debian packages that are missing
# and builds the project. Source it; it sets BUILD_DIR.
set -euo pipefail

ROOT_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT_DIR/build}"

PACKAGES=(
  qt6-base-dev libsqlite3-dev cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth fonts-dejavu-core tzdata
)

install_missing_packages() {
  local missing=()
  for package in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installerar saknade paket: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}

build_project() {
  cmake -S "$ROOT_DIR" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$BUILD_DIR"
}

# A folder with two sample models, the calculation simulator as the calculation
# program and rows of every kind; prints the monitor program to start there.
prepare_demo() {
  local demo_dir="$1"
  rm -rf "$demo_dir"
  "$BUILD_DIR/kvarnixdemo" "$demo_dir" "$BUILD_DIR/kvarnixsim" >&2
  cp "$BUILD_DIR/kvarnixmonitor" "$demo_dir/kvarnixmonitor"
  echo "$demo_dir/kvarnixmonitor"
}

install_missing_packages
build_project
