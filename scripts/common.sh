# Shared set-up for scripts/render, scripts/test and scripts/fuzz: installs
# missing Debian packages, configures and builds. Source it; don't run it.

VELTRIX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VELTRIX_JOBS=${VELTRIX_JOBS:-2}
VELTRIX_SCRIPT=scripts/$(basename "$0")

# What the plug-in and veltrix-render need. openimageio-tools holds no code we
# use, but Debian's OpenImageIO CMake package declares its command-line tools
# as imported targets and refuses to configure when they are not installed.
VELTRIX_RENDER_PACKAGES=(cmake g++ make binutils nlohmann-json3-dev libcli11-dev
  libopenimageio-dev openimageio-tools libstb-dev)
# What veltrix-studio needs on top of the renderer's.
VELTRIX_STUDIO_PACKAGES=("${VELTRIX_RENDER_PACKAGES[@]}" libcpp-httplib-dev pkg-config)
# What the test suite and the benchmarks need on top; the studio's browser
# tests drive Debian's chromium from Node (scripts/test adds npm when no npm
# came with nodejs); the cluster test starts a one-node Slurm cluster of its own,
# in a network namespace with only a loopback interface (iproute2 brings it up).
VELTRIX_TEST_PACKAGES=("${VELTRIX_STUDIO_PACKAGES[@]}" libgtest-dev libbenchmark-dev chromium nodejs
  slurm-wlm munge iproute2)

# missing_packages PKG...: prints the packages that are not installed.
missing_packages() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

# ensure_packages PKG...: installs the Debian packages that are missing. As
# root it runs apt-get (lists refreshed first: a bare system has none, and old
# ones name files the mirror no longer has) and shows apt's own words when it
# fails; anyone else gets the one command to run and a non-zero exit.
ensure_packages() {
  local missing
  mapfile -t missing < <(missing_packages "$@")
  [ ${#missing[@]} -eq 0 ] && return 0
  local install="apt-get update && apt-get install -y --no-install-recommends ${missing[*]}"
  if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null; then
    {
      echo "$VELTRIX_SCRIPT: these Debian packages are missing: ${missing[*]}"
      echo "Install them as root, then run $VELTRIX_SCRIPT again:"
      echo "  sudo sh -c '$install'"
    } >&2
    exit 1
  fi
  echo "$VELTRIX_SCRIPT: installing ${missing[*]} ..." >&2
  local log
  log=$(mktemp)
  if ! { apt-get update -q && apt-get install -y -q --no-install-recommends "${missing[@]}"; } \
       </dev/null >"$log" 2>&1; then
    echo "$VELTRIX_SCRIPT: apt-get could not install ${missing[*]}; apt-get said:" >&2
    grep -E '^(E|W|Err):' "$log" >&2 || tail -n 20 "$log" >&2
    rm -f "$log"
    exit 1
  fi
  rm -f "$log"
}
export DEBIAN_FRONTEND=noninteractive

# configure_tree DIR [cmake args...]: configures DIR (CMake's own messages on
# failure reach the terminal through stderr).
configure_tree() {
  local dir="$1"; shift
  cmake -S "$VELTRIX_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null ||
    { echo "$VELTRIX_SCRIPT: cmake configuration of $dir failed" >&2; exit 1; }
}

# build_tree DIR [cmake args...]: configures and builds all of DIR.
build_tree() {
  local dir="$1"; shift
  configure_tree "$dir" "$@"
  cmake --build "$dir" -j "$VELTRIX_JOBS" ||
    { echo "$VELTRIX_SCRIPT: build failed" >&2; exit 1; }
}

# build_targets DIR TARGET...: builds only the named targets (and what they
# need) of DIR, configuring it first if it never was. A first configuration
# leaves the tests and benchmarks out, so that their packages are not needed;
# scripts/test turns them on in the same tree.
build_targets() {
  local dir="$1"; shift
  [ -f "$dir/CMakeCache.txt" ] ||
    configure_tree "$dir" -DVELTRIX_BUILD_TESTS=OFF -DVELTRIX_BUILD_BENCH=OFF
  cmake --build "$dir" -j "$VELTRIX_JOBS" --target "$@" ||
    { echo "$VELTRIX_SCRIPT: build failed" >&2; exit 1; }
}
