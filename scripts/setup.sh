# Shared by run.sh, test.sh and fuzz.sh: installs the Debian packages that are
# missing and builds the project. Source it; it sets BUILD_DIR.
set -euo pipefail

ROOT_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT_DIR/build}"
FUZZ_BUILD_DIR="${FUZZ_BUILD_DIR:-$ROOT_DIR/build-fuzz}"
FUZZ_TARGETS=(fuzz_maskengine fuzz_starttime)

PACKAGES=(
  qt6-base-dev qt6-svg-dev libsqlite3-dev cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-translations-l10n xvfb xauth fonts-dejavu-core tzdata desktop-file-utils
  clang libclang-rt-14-dev faketime
  libsystemd-dev systemd dpkg-dev lintian fakeroot file
  slurmctld slurmd slurm-client munge
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

# clang builds the programs: it compiles faster than g++ and tells every number narrowed from
# 64 to 32 bits without a word (a stored setting read into an int), which the build makes an
# error. -O1 keeps the test build quick; scripts/bench.sh measures a build of its own at -O2.
KVARNIX_OPTIMISE="${KVARNIX_OPTIMISE:--O1}"

build_project() {
  CC=clang CXX=clang++ cmake -S "$ROOT_DIR" -B "$BUILD_DIR" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$KVARNIX_OPTIMISE -DNDEBUG" \
    -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
  cmake --build "$BUILD_DIR"
}

# Runs each fuzz target for the given seconds, built with clang and the sanitizers
# in a folder of its own. The corpus grows from run to run; an input that crashes
# or breaks a rule is kept in findings/ and fails the run.
run_fuzzers() {
  local seconds="$1"
  CC=clang CXX=clang++ cmake -S "$ROOT_DIR" -B "$FUZZ_BUILD_DIR" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVARNIX_FUZZ=ON >/dev/null
  cmake --build "$FUZZ_BUILD_DIR" --target "${FUZZ_TARGETS[@]}"
  mkdir -p "$FUZZ_BUILD_DIR/findings"
  for target in "${FUZZ_TARGETS[@]}"; do
    local corpus="$FUZZ_BUILD_DIR/corpus/$target"
    local log="$FUZZ_BUILD_DIR/$target.log"
    mkdir -p "$corpus"
    echo "Fuzzar $target i $seconds s"
    if ! "$FUZZ_BUILD_DIR/fuzz/$target" -max_total_time="$seconds" -timeout=30 \
      -artifact_prefix="$FUZZ_BUILD_DIR/findings/$target-" "$corpus" 2>"$log"; then
      tail -n 40 "$log"
      echo "$target hittade ett fel; indata i $FUZZ_BUILD_DIR/findings/" >&2
      return 1
    fi
  done
}

# A folder with two sample models, the calculation simulator as the calculation
# program and rows of every kind; prints the monitor program to start there.
prepare_demo() {
  local demo_dir="$1"
  rm -rf "$demo_dir"
  "$BUILD_DIR/kvarnixdemo" "$demo_dir" "$BUILD_DIR/kvarnixsim" >&2
  cp "$BUILD_DIR/kvarnixmonitor" "$BUILD_DIR/kvarnixrun" "$demo_dir/"
  echo "$demo_dir/kvarnixmonitor"
}

install_missing_packages
build_project
